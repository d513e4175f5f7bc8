// One run of a plug-in: version check, Init, Update once per frame at a
// steady pace, Shutdown. Portable: the entry points come in as plain
// function pointers, from a loaded DLL or from a test.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include <skarvel/shared/interface/plugin_interface.h>

#include "tools/common/frame_source.h"

namespace tools {

struct session_settings {
    double rate = 60.0;  // pace of the frames, unless the source keeps its own
    bool use_source_pace = false;
    bool paced = true;
    std::optional<std::uint64_t> max_frames;
    std::optional<double> max_seconds;
    std::ostream* record = nullptr;  // after its header has been written
    const std::atomic<bool>* stop = nullptr;  // set by Ctrl-C
    // Called about four times a second with frames sent and seconds elapsed.
    std::function<void(std::uint64_t, double)> on_status;
    // Called after each Update with the frame's number (from 1), its stream
    // and its message count.
    std::function<void(std::uint64_t, const std::vector<std::uint8_t>&, std::uint32_t)> on_frame;
};

struct session_result {
    bool ok = false;
    std::string error;  // one sentence when !ok
    std::uint64_t frames = 0;
    std::uint64_t messages = 0;
    double seconds = 0.0;  // from Init's return to the last Update's end
    double shutdown_seconds = 0.0;  // how long Shutdown took
    std::uint64_t nonzero_outputs = 0;  // Updates that left an output not 0
};

session_result run_session(const plugin_interface::entry_points& plugin, frame_source& source,
                           const session_settings& settings);

}  // namespace tools
