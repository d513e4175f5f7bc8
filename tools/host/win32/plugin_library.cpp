#include "tools/host/win32/plugin_library.h"

namespace tools {

std::string system_error_text(DWORD code)
{
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length ? std::string(text, length) : "unknown error";
    if (text) LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    // Inserts are not filled in: name the file in general terms instead.
    for (std::size_t at = result.find("%1"); at != std::string::npos; at = result.find("%1"))
        result.replace(at, 2, "the file");
    return result + " (error " + std::to_string(code) + ")";
}

plugin_library::~plugin_library() { unload(); }

void plugin_library::unload() noexcept
{
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
    entry_points_ = {};
}

bool plugin_library::load(const std::string& path, std::string& error)
{
    unload();
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = "no plug-in file at " + path;
        return false;
    }
    module_ = LoadLibraryA(path.c_str());
    if (!module_) {
        error = "cannot load " + path + " as a DLL: " + system_error_text(GetLastError());
        return false;
    }
    struct export_slot {
        const char* name;
        FARPROC* slot;
    };
    FARPROC procs[4] = {};
    const export_slot exports[] = {{"Skarvel_External_DLL_GetInterfaceVersion", &procs[0]},
                                   {"Skarvel_External_DLL_Init", &procs[1]},
                                   {"Skarvel_External_DLL_Update", &procs[2]},
                                   {"Skarvel_External_DLL_Shutdown", &procs[3]}};
    for (const export_slot& e : exports) {
        *e.slot = GetProcAddress(module_, e.name);
        if (!*e.slot) {
            error = path + " does not export " + e.name;
            unload();
            return false;
        }
    }
    // The exports' types are the plug-in interface's; the cast goes through
    // a generic function pointer as GetProcAddress results must.
    entry_points_.get_interface_version = reinterpret_cast<decltype(entry_points_.get_interface_version)>(
        reinterpret_cast<void (*)()>(procs[0]));
    entry_points_.init = reinterpret_cast<decltype(entry_points_.init)>(reinterpret_cast<void (*)()>(procs[1]));
    entry_points_.update = reinterpret_cast<decltype(entry_points_.update)>(reinterpret_cast<void (*)()>(procs[2]));
    entry_points_.shutdown =
        reinterpret_cast<decltype(entry_points_.shutdown)>(reinterpret_cast<void (*)()>(procs[3]));
    return true;
}

}  // namespace tools
