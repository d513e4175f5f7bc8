#include "tools/common/plugin_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "tools/common/file_system.h"

namespace tools {
namespace {

namespace fs = std::filesystem;

// How many DLLs in a folder a refusal names.
constexpr std::size_t dlls_named = 4;

bool ends_with(std::string_view text, std::string_view end)
{
    if (text.size() < end.size()) return false;
    return std::equal(end.begin(), end.end(), text.end() - static_cast<std::ptrdiff_t>(end.size()), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

// `name` in the folder `folder` as the user spelt it, with the separator the
// user used (a slash when none).
std::string joined(const std::string& folder, const std::string& name)
{
    if (folder.empty()) return name;
    const char separator = folder.find('\\') != std::string::npos ? '\\' : '/';
    return folder.back() == '\\' || folder.back() == '/' ? folder + name : folder + separator + name;
}

// The folder part of `path` as spelt, empty for a bare name.
std::string folder_of(const std::string& path)
{
    const std::size_t last = path.find_last_of("\\/");
    return last == std::string::npos ? std::string() : path.substr(0, last);
}

std::string file_name_of(const std::string& path)
{
    const std::size_t last = path.find_last_of("\\/");
    return last == std::string::npos ? path : path.substr(last + 1);
}

bool is_regular(const std::string& path)
{
    return kind_of_file(path) == file_kind::regular;
}

// The DLL files directly in `folder`, by name.
std::vector<std::string> dlls_in(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(file_path(folder), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().u8string();
        if (ends_with(name, ".dll") && is_regular(joined(folder, name))) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The DLL an archive was made beside: libNAME.dll.a or NAME.lib for NAME.dll
// (or libNAME.dll), in the archive's folder or in a bin folder beside it, as
// installed packages lay them out.
std::string dll_beside(const std::string& archive)
{
    std::string base = file_name_of(archive);
    if (ends_with(base, ".a"))
        base.resize(base.size() - 2);
    else if (ends_with(base, ".lib"))
        base.resize(base.size() - 4);
    if (!ends_with(base, ".dll")) base += ".dll";
    std::vector<std::string> names = {base};
    if (base.size() > 7 && ends_with(base.substr(0, 3), "lib")) names.push_back(base.substr(3));
    const std::string folder = folder_of(archive);
    const std::string parent = folder.empty() ? std::string("..") : joined(folder, "..");
    for (const std::string& where : {folder, joined(parent, "bin")})
        for (const std::string& name : names)
            if (is_regular(joined(where.empty() ? "." : where, name))) return joined(where, name);
    return {};
}

bool is_archive(const std::string& path)
{
    std::ifstream file(file_path(path), std::ios::binary);
    char magic[8] = {};
    file.read(magic, sizeof magic);
    return file.gcount() == sizeof magic && std::string_view(magic, sizeof magic) == "!<arch>\n";
}

}  // namespace

std::string plugin_file_problem(const std::string& path)
{
    switch (kind_of_file(path)) {
        case file_kind::none: return "no plug-in file at " + path;
        case file_kind::folder: {
            const std::vector<std::string> dlls = dlls_in(path);
            const std::string folder = path + " is a folder, not a DLL";
            if (dlls.empty()) return folder + ", and holds no DLL";
            if (dlls.size() == 1) return folder + "; the DLL in it is " + joined(path, dlls.front());
            std::string text = folder + "; the DLLs in it are ";
            for (std::size_t i = 0; i < dlls.size() && i < dlls_named; ++i)
                text += (i > 0 ? ", " : "") + joined(path, dlls[i]);
            if (dlls.size() > dlls_named) text += " and " + std::to_string(dlls.size() - dlls_named) + " more";
            return text;
        }
        case file_kind::other: return path + " is a device or a pipe, not a DLL file";
        case file_kind::regular: break;
    }
    if (!is_archive(path)) return {};
    const std::string dll = dll_beside(path);
    return path + " is a library archive (an import or static library), not a DLL; " +
           (dll.empty() ? "no DLL of its name is beside it" : "the DLL beside it is " + dll);
}

}  // namespace tools
