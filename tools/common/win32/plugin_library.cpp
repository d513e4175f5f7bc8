#include "tools/common/win32/plugin_library.h"

#include "tools/common/system_error.h"

namespace tools {

plugin_library::~plugin_library() { unload(); }

void plugin_library::unload() noexcept
{
    if (module_) FreeLibrary(module_);
    release();
}

void plugin_library::release() noexcept
{
    module_ = nullptr;
    entry_points_ = {};
}

bool plugin_library::load(const std::string& path, std::string& error)
{
    unload();
    load_error_ = 0;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = "no plug-in file at " + path;
        return false;
    }
    module_ = LoadLibraryA(path.c_str());
    if (!module_) {
        load_error_ = GetLastError();
        error = "cannot load " + path + " as a DLL: " + system_error_text(static_cast<int>(load_error_));
        return false;
    }
    // Each cast goes through a generic function pointer, as GetProcAddress
    // results must.
    std::string missing;
    const auto find = [&](const char* name) {
        const auto address = reinterpret_cast<void (*)()>(GetProcAddress(module_, name));
        if (!address) missing += (missing.empty() ? "" : ", ") + std::string(name);
        return address;
    };
    plugin_interface::resolve_entry_points(find, entry_points_);
    if (!missing.empty()) {
        error = path + " does not export " + missing;
        unload();
        return false;
    }
    return true;
}

}  // namespace tools
