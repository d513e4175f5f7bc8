// What the checks share: their settings, the built-in flight's frames, a
// host's message pump and frame pacing, and the first steps of a check.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <skarvel/shared/input/tm_message_list.h>

#include "tools/common/frame_source.h"
#include "tools/validate/check_list.h"
#include "tools/validate/check_result.h"
#include "tools/validate/recorded_flight.h"
#include "tools/validate/validate_options.h"
#include "tools/validate/win32/plugin_under_test.h"

namespace validate {

struct check_context {
    const validate_options& options;
    std::uint64_t seed = 0;
    const check_info* check = nullptr;  // the check run, reported first
    // A body that several checks share returns its run's first check's
    // result and adds the others' here.
    std::vector<std::pair<std::string_view, check_result>>* others = nullptr;
    // How much of a thing to do: the full count, or the quick one.
    int scaled(int full, int quick) const noexcept { return options.quick ? quick : full; }
};

// For a body that several checks share: the result for the check being run,
// out of `results` (by check name); the others go to context.others.
check_result report_shared(const check_context& context,
                           std::vector<std::pair<std::string_view, check_result>> results);

// Limits every check keeps to.
inline constexpr double call_limit_seconds = 10.0;  // a call that takes longer hangs
inline constexpr double start_stop_limit_ms = 500.0;  // Init and Shutdown each
inline constexpr double frame_rate = 60.0;

// The flight the checks fly: the built-in one, unless the child was told to
// fly the first `frames` frames of a recording (--recording) instead.
void fly_recording(const std::string& path, std::uint64_t frames);

// The flight's frames, one after another, as the host simulator sends them:
// the built-in flight at 60 frames a second, or the recording's frames with
// their own time steps, from its first frame again after its last. A
// recording that no longer reads as it did ends the check as the
// validator's error.
class flight_frames {
public:
    flight_frames();
    ~flight_frames();
    flight_frames(const flight_frames&) = delete;
    flight_frames& operator=(const flight_frames&) = delete;

    // The next frame's stream, count and time step.
    void next(std::vector<std::uint8_t>& stream, std::uint32_t& count, double& time_step);
    // What the frame just given is, for a fault's report: "frame 17 of the
    // recording", "a frame of the built-in flight".
    std::string what() const;
    // The frames the flight has before it repeats: the recording's, or the
    // built-in flight's take-off.
    std::uint64_t length() const noexcept;
    bool recorded() const noexcept { return recording_ != nullptr; }

private:
    tools::scenario_source source_{frame_rate};
    std::unique_ptr<recorded_flight> recording_;
    tools::recorded_frame frame_;
};

// Handles the messages waiting for this thread, as a host's main loop does.
void pump_messages();
// Waits `seconds` while handling this thread's messages.
void pump_for(double seconds);

// A host's frame loop: Updates with the built-in flight, paced at 60 Hz
// (or back to back when `paced` is false), messages handled between them;
// `on_update` sees each one's seconds.
class frame_loop {
public:
    frame_loop(plugin_under_test& plugin, bool paced) : plugin_(plugin), paced_(paced) {}
    void run(int frames, const std::function<void(double)>& on_update = {});
    void run_for(double seconds, const std::function<void(double)>& on_update = {});

private:
    void one(const std::function<void(double)>& on_update);
    plugin_under_test& plugin_;
    bool paced_;
    flight_frames frames_;
    std::vector<std::uint8_t> stream_;
    double time_step_ = 0.0;
    double deadline_ = 0.0;
};

// Whether the module is still mapped into the process.
bool module_mapped(HMODULE module);

// The plug-in could not be loaded with its entry points: the check cannot run.
check_result not_loadable(const std::string& error);

// The first steps of most checks, each nothing when it went well: the
// plug-in of the options loaded with its entry points, and Init answering
// true.
std::optional<check_result> try_load(plugin_under_test& plugin, const check_context& context);
std::optional<check_result> try_init(plugin_under_test& plugin);

// How many units of `unit_seconds` each fit in `budget_seconds`: `wanted`,
// or fewer for a plug-in whose calls are slow (though within their limits),
// but never fewer than `fewest`. Keeps every check well within its limit.
std::uint64_t units_within(double unit_seconds, double budget_seconds, std::uint64_t wanted,
                           std::uint64_t fewest) noexcept;

// Milliseconds, as the reports print them: "0.052 ms", "12.3 ms".
std::string ms_text(double ms);

}  // namespace validate
