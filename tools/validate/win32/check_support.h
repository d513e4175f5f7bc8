// What the checks share: their settings, the built-in flight's frames, a
// host's message pump and frame pacing, and the first steps of a check.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <skarvel/shared/input/tm_message_list.h>

#include "tools/common/frame_source.h"
#include "tools/validate/check_list.h"
#include "tools/validate/check_result.h"
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
inline constexpr double call_limit_seconds = 10.0;    // a call that takes longer hangs
inline constexpr double start_stop_limit_ms = 500.0;  // Init and Shutdown each
inline constexpr double frame_rate = 60.0;

// The built-in flight at 60 frames a second, one frame after another, as
// the host simulator sends it.
class flight_frames {
public:
    // The next frame's stream and count.
    void next(std::vector<std::uint8_t>& stream, std::uint32_t& count);

private:
    tools::scenario_source source_{frame_rate};
};

// Handles the messages waiting for this thread, as a host's main loop does.
void pump_messages();
// Waits `seconds` while handling this thread's messages.
void pump_for(double seconds);

// A host's frame loop: Updates with the built-in flight, paced at 60 Hz
// (or back to back when `paced` is false), messages handled between them.
// Each Update's outputs are tallied; `on_update` sees each one's seconds.
struct output_tally {
    std::uint64_t updates = 0;
    std::uint64_t left_as_preset = 0;  // an output not written at all
    std::uint64_t not_zero = 0;        // an output written with a value other than 0

    void add(const plugin_under_test::outputs& out) noexcept;
    std::string describe() const;  // one sentence
    // Outputs other than 0, the fault of a check that makes Updates; nothing
    // when there were none.
    std::optional<check_result> fault() const;
};
class frame_loop {
public:
    frame_loop(plugin_under_test& plugin, bool paced) : plugin_(plugin), paced_(paced) {}
    void run(int frames, const std::function<void(double)>& on_update = {});
    void run_for(double seconds, const std::function<void(double)>& on_update = {});
    const output_tally& outputs() const noexcept { return tally_; }

private:
    void one(const std::function<void(double)>& on_update);
    plugin_under_test& plugin_;
    bool paced_;
    flight_frames frames_;
    std::vector<std::uint8_t> stream_;
    output_tally tally_;
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
