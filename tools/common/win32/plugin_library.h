// Loading a plug-in DLL and finding its four entry points: the one loader of
// the host simulator, the validator and the Windows test hosts.
#pragma once

#include <windows.h>

#include <string>

#include <skarvel/shared/interface/plugin_interface.h>

namespace tools {

// The full path of a loaded module (the program's own for nullptr), empty
// when Windows cannot tell it.
std::wstring module_path(HMODULE module);

class plugin_library {
public:
    plugin_library() = default;
    ~plugin_library();  // FreeLibrary, unless released
    plugin_library(const plugin_library&) = delete;
    plugin_library& operator=(const plugin_library&) = delete;

    // Why `path` cannot be loaded, told before loading it, in one sentence:
    // what plugin_file_problem finds (nothing there, a folder, a library
    // archive), or a path too long for Windows to load a DLL from. Empty when
    // there is nothing to say.
    static std::string path_problem(const std::string& path);

    // LoadLibrary, by the file's full path, and the four exports, through the
    // interface's types. False with one sentence in `error` for a path_problem,
    // a file that does not load (with the system's reason; a crash in its
    // DllMain named), a DLL of the same name that Windows gave instead (a
    // system DLL), or missing exports (every one named); nothing stays loaded
    // then.
    bool load(const std::string& path, std::string& error);
    // FreeLibrary; the entry points are gone afterwards.
    void unload() noexcept;
    // Forgets the library without unloading it: for a caller that decides
    // itself when, or whether, it goes.
    void release() noexcept;

    HMODULE module() const noexcept { return module_; }
    const plugin_interface::entry_points& entry_points() const noexcept { return entry_points_; }
    // GetLastError of the LoadLibrary that failed last, 0 after a load that
    // got that far.
    DWORD load_error() const noexcept { return load_error_; }

private:
    HMODULE module_ = nullptr;
    plugin_interface::entry_points entry_points_{};
    DWORD load_error_ = 0;
};

}  // namespace tools
