// Where a host's frames come from: the built-in flight, or a recording. The
// host simulator and the validator both feed a plug-in from these.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <skarvel/shared/input/tm_message_list.h>

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

}  // namespace tools
