// Loading a plug-in DLL and finding its four entry points.
#pragma once

#include <windows.h>

#include <string>

#include "tools/host/host_session.h"

namespace tools {

class plugin_library {
public:
    plugin_library() = default;
    ~plugin_library();
    plugin_library(const plugin_library&) = delete;
    plugin_library& operator=(const plugin_library&) = delete;

    // Loads the DLL and resolves every export; false with one sentence in
    // `error` for a missing file, a file that does not load or a missing
    // export.
    bool load(const std::string& path, std::string& error);
    const plugin_interface::entry_points& entry_points() const noexcept { return entry_points_; }
    void unload() noexcept;

private:
    HMODULE module_ = nullptr;
    plugin_interface::entry_points entry_points_{};
};

// FormatMessage's text for a system error code, without the line break.
std::string system_error_text(DWORD code);

}  // namespace tools
