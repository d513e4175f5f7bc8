#include "tools/common/win32/plugin_library.h"

#include <cstdio>

#include "tools/common/exception_names.h"
#include "tools/common/file_system.h"
#include "tools/common/plugin_file.h"
#include "tools/common/system_error.h"
#include "tools/common/win32/wide_text.h"

namespace tools {
namespace {

// The full path of `path`, as LoadLibrary is given it: a relative name
// would be searched for in the program's folder and the system's first, and
// another DLL of that name found there.
std::wstring full_path_of(const std::string& path)
{
    std::wstring given = wide_text(path);
    DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    if (size > 0) size = GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
    if (size == 0 || size >= full.size()) return given;
    full.resize(size);
    return full;
}

// Whether the file is a Windows program (an EXE): a PE file without the DLL
// flag. LoadLibrary maps one too, and its start-up code may run and end the
// process. Only the headers are read.
bool is_program_file(const std::wstring& path)
{
    const HANDLE file = CreateFileW(windows_path(utf8_text(path)).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const auto read_at = [&](LONG64 offset, void* to, DWORD size) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        return ReadFile(file, to, size, &got, &at) && got == size;
    };
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    const bool program = read_at(0, &dos, sizeof dos) && dos.e_magic == IMAGE_DOS_SIGNATURE && dos.e_lfanew > 0 &&
                         read_at(dos.e_lfanew, &signature, sizeof signature) && signature == IMAGE_NT_SIGNATURE &&
                         read_at(dos.e_lfanew + LONG64{sizeof signature}, &header, sizeof header) &&
                         (header.Characteristics & IMAGE_FILE_DLL) == 0;
    CloseHandle(file);
    return program;
}

// The words for a load that failed. Wine's loader catches an exception in
// DllMain and fails the load with it: an access violation as ERROR_NOACCESS,
// a stack overflow as ERROR_STACK_OVERFLOW, other exceptions as their own
// code.
std::string load_failure_text(DWORD code)
{
    if (code == ERROR_NOACCESS || code == ERROR_STACK_OVERFLOW)
        return "it crashed while loading, in its DllMain or a static constructor: " +
               system_error_text(static_cast<int>(code));
    if (const char* words = exception_name(code)) {
        char number[16];
        std::snprintf(number, sizeof number, "0x%08lX", static_cast<unsigned long>(code));
        return std::string("its DllMain or a static constructor raised an exception: ") + words + " (" + number + ")";
    }
    return system_error_text(static_cast<int>(code));
}

}  // namespace

std::wstring module_path(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::string plugin_library::path_problem(const std::string& path)
{
    std::string problem = plugin_file_problem(path);
    if (!problem.empty()) return problem;
    const std::size_t length = full_path_of(path).size();
    if (length >= MAX_PATH)
        return "cannot load " + path + ": its full path is " + std::to_string(length) +
               " characters long, and Windows loads a DLL from a path of at most " + std::to_string(MAX_PATH - 1) +
               ": move it to a shorter one";
    return {};
}

plugin_library::~plugin_library()
{
    unload();
}

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
    error = path_problem(path);
    if (!error.empty()) return false;
    const std::wstring full = full_path_of(path);
    if (is_program_file(full)) {
        error = "cannot load " + path + ": it is a program (an EXE), not a DLL";
        return false;
    }
    // LoadLibrary adds ".dll" to a name without an extension; a dot at its
    // end keeps the name as it is.
    const std::size_t name_start = full.find_last_of(L"\\/") + 1;
    const bool extension = full.find(L'.', name_start) != std::wstring::npos;
    module_ = LoadLibraryW((extension ? full : full + L'.').c_str());
    if (!module_) {
        load_error_ = GetLastError();
        error = "cannot load " + path + " as a DLL: " + load_failure_text(load_error_);
        return false;
    }
    // The module Windows gave is the file named, not a DLL of the same name
    // it has already (a system DLL, under Wine one of its own).
    const std::wstring loaded = module_path(module_);
    const std::optional<file_identity> named = identify_file(path);
    const std::optional<file_identity> found = identify_file(utf8_text(loaded));
    const bool same_path = CompareStringOrdinal(loaded.c_str(), -1, full.c_str(), -1, TRUE) == CSTR_EQUAL;
    if (!(named && found && *named == *found) && !same_path) {
        error = "cannot load " + path + ": Windows gave its own DLL of that name instead, " + utf8_text(loaded) +
                ": rename the plug-in";
        unload();
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
