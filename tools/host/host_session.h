// One run of a plug-in: version check, Init, Update once per frame at a
// steady pace, Shutdown. Portable: the entry points come in as plain
// function pointers, from a loaded DLL or from a test.
#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <skarvel/shared/input/tm_message_list.h>
#include <skarvel/shared/interface/plugin_interface.h>

#include "tools/common/flight_scenario.h"
#include "tools/common/frame_recording.h"

namespace tools {


// Where frames come from.
class frame_source {
public:
    virtual ~frame_source() = default;
    // The next frame's time step, message count and stream; false at the
    // end, with `error` set when the end is a fault.
    virtual bool next(double& time_step, std::uint32_t& count, std::vector<std::uint8_t>& stream,
                      std::string& error) = 0;
    // Whether the frames carry their own pace (their time steps).
    virtual bool keeps_own_pace() const noexcept { return false; }
};

// The built-in flight, one frame every 1/rate seconds of simulation time,
// from `start` seconds into the flight.
class scenario_source final : public frame_source {
public:
    explicit scenario_source(double rate, double start = 0.0) noexcept;
    bool next(double& time_step, std::uint32_t& count, std::vector<std::uint8_t>& stream, std::string& error) override;

private:
    flight_scenario scenario_;
    tm_message_list frame_;
    double time_step_;
    bool started_ = false;
};

// The frames of a recording, each checked before it is sent.
class replay_source final : public frame_source {
public:
    // Opens and checks the file's header; false with `error` otherwise.
    bool open(const std::string& path, std::string& error);
    bool next(double& time_step, std::uint32_t& count, std::vector<std::uint8_t>& stream, std::string& error) override;
    bool keeps_own_pace() const noexcept override { return true; }
    // When the recording ended inside a frame (cut short, as by a crash of
    // the host that made it): the reader's sentence naming that frame. The
    // whole frames before it were sent, and the end was no fault.
    const std::string& cut_short() const noexcept { return cut_short_; }

private:
    std::ifstream file_;
    std::string cut_short_;
    std::unique_ptr<recording_reader> reader_;
    recorded_frame frame_;
    tm_message_list messages_;
};

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

session_result run_session(const plugin_interface::entry_points& plugin, frame_source& source, const session_settings& settings);

}  // namespace tools
