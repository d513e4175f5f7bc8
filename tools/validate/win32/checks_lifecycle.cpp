// The lifecycle group: the entry points called in the usual order and in
// the orders that hosts get wrong or that happen all the same.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "tools/validate/child_verdict.h"
#include "tools/validate/win32/checks.h"
#include "tools/validate/win32/child_channel.h"
#include "tools/validate/win32/load_readings.h"

namespace validate {

namespace {

// The seconds lifecycle.init_shutdown_cycles may spend on its cycles.
constexpr double cycle_budget_seconds = 20.0;

// A Shutdown with nothing to stop must return at once, as an idle one does.
// One over the limit is judged against what the machine did meanwhile (the
// processors' time during it, the host's short waits just after): the
// plug-in's own slowness fails; a busy machine's is measured again with
// another such Shutdown, up to three in all, and not judged when every one
// was disturbed. `seconds` is the last one's.
constexpr int prompt_tries = 3;
std::optional<check_result> prompt_shutdown(plugin_under_test& plugin, const std::string& which, double& seconds)
{
    plugin.read_processors_around_calls(true);
    double least_share = 1.0;
    for (int attempt = 1;; ++attempt) {
        plugin.shutdown();
        seconds = plugin.last_call_seconds();
        const double ms = seconds * 1000.0;
        if (ms <= start_stop_limit_ms) break;
        const time_judgement judgement = judge_call(
            ms, start_stop_limit_ms, call_evidence(plugin.last_call_use(), watch_machine(0.25).wait_delay_ms));
        const std::string over = which + " took " + ms_text(ms) + ", over the limit of " + ms_text(start_stop_limit_ms);
        if (judgement.verdict == time_verdict::own)
            return failed(fault_kind::too_slow, over + ": " + own_reason_text(judgement), plugin_call::shutdown);
        least_share = std::min(least_share, judgement.others_share);
        if (attempt == prompt_tries) {
            check_result result = validator_error("not judged: other programs used at least " +
                                                  percent_text(least_share) + " of the processors during each of " +
                                                  std::to_string(prompt_tries) + " tries; " + over);
            result.figures.emplace_back("others_share", least_share);
            return result;
        }
    }
    plugin.read_processors_around_calls(false);
    return std::nullopt;
}

}  // namespace

namespace bodies {

check_result lifecycle_usual_order(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    plugin.version();
    if (auto fault = try_init(plugin)) return *fault;
    frame_loop frames(plugin, true);
    frames.run(60);
    plugin.shutdown();
    const HMODULE module = plugin.module();
    plugin.unload();
    // A thread of the plug-in that still runs in the unloaded code crashes now.
    begin_call(plugin_call::after_free_library);
    pump_for(1.0);
    end_call();
    check_result result = passed("Init, 60 frames, Shutdown, FreeLibrary; alive a second later");
    if (module_mapped(module)) result.notes.emplace_back("the library stayed in the process after FreeLibrary");
    return result;
}

check_result lifecycle_shutdown_without_init(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    double first = 0.0;
    if (auto slow = prompt_shutdown(plugin, "Shutdown without Init", first)) return *slow;
    if (auto fault = try_init(plugin)) return *fault;
    frame_loop(plugin, true).run(10);
    plugin.shutdown();
    plugin.unload();
    return passed("returned in " + ms_text(first * 1000.0) + "; Init and Shutdown worked afterwards");
}

check_result lifecycle_init_twice(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    if (auto fault = try_init(plugin)) return *fault;
    frame_loop frames(plugin, true);
    frames.run(10);
    const bool second = plugin.init();
    frames.run(10);
    plugin.shutdown();
    frames.run(5);
    plugin.unload();
    return passed(std::string("the second Init answered ") + (second ? "true" : "false") + "; one Shutdown ended it");
}

check_result lifecycle_shutdown_twice(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    if (auto fault = try_init(plugin)) return *fault;
    frame_loop(plugin, true).run(10);
    plugin.shutdown();
    double second = 0.0;
    if (auto slow = prompt_shutdown(plugin, "the second Shutdown", second)) return *slow;
    plugin.unload();
    return passed("the second Shutdown returned in " + ms_text(second * 1000.0));
}

check_result lifecycle_update_before_init(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    frame_loop frames(plugin, false);
    frames.run(60);
    if (auto fault = try_init(plugin)) return *fault;
    frames.run(10);
    plugin.shutdown();
    plugin.unload();
    return passed("60 frames before Init, then Init, frames and Shutdown");
}

check_result lifecycle_update_after_shutdown(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    if (auto fault = try_init(plugin)) return *fault;
    frame_loop frames(plugin, false);
    frames.run(10);
    plugin.shutdown();
    frames.run(60);
    plugin.unload();
    return passed("60 frames after Shutdown");
}

check_result lifecycle_shutdown_at_once(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    double longest = 0.0;
    for (int i = 0; i < 10; ++i) {
        if (auto fault = try_init(plugin)) return *fault;
        plugin.shutdown();
        longest = std::max(longest, plugin.last_call_seconds());
    }
    plugin.unload();
    return passed("10 times; the longest Shutdown took " + ms_text(longest * 1000.0));
}

check_result lifecycle_init_shutdown_cycles(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    const int wanted = context.scaled(100, 30);
    frame_loop frames(plugin, false);
    double longest = 0.0;
    const double start = now_seconds();
    // A plug-in whose Init and Shutdown are slow, though within their
    // limits, gets as many cycles as fit in the budget, at least ten.
    int cycles = 0;
    for (; cycles < wanted && (cycles < 10 || now_seconds() - start < cycle_budget_seconds); ++cycles) {
        if (auto fault = try_init(plugin)) return *fault;
        // At once, after a few frames, or after a short while: around the
        // moments a plug-in's own thread is starting up.
        if (cycles % 3 == 1) frames.run(3);
        if (cycles % 3 == 2) pump_for(0.001 * (cycles % 20));
        plugin.shutdown();
        longest = std::max(longest, plugin.last_call_seconds());
    }
    const double seconds = now_seconds() - start;
    const HMODULE module = plugin.module();
    plugin.unload();
    // Every thread the cycles started has ended and let go of the library
    // within a second, or a few more on a machine that holds threads up.
    for (int wait = 0; wait < 20 && module_mapped(module); ++wait) pump_for(0.05);
    if (module_mapped(module)) wait_out_busy_machine([&] { return !module_mapped(module); }, 5.0);
    if (module_mapped(module)) {
        return failed(fault_kind::left_behind,
                      "the library stays in the process after the cycles and FreeLibrary: something a cycle started "
                      "still holds it");
    }
    check_result result = passed(std::to_string(cycles) + " cycles in " + ms_text(seconds * 1000.0) +
                                 "; the longest Shutdown took " + ms_text(longest * 1000.0));
    if (cycles < wanted) {
        result.notes.push_back(std::to_string(cycles) + " cycles instead of " + std::to_string(wanted) +
                               ": Init and Shutdown took longer than the cycles' " +
                               seconds_text(cycle_budget_seconds));
    }
    result.figures.emplace_back("cycles", cycles);
    result.figures.emplace_back("longest_shutdown_ms", longest * 1000.0);
    return result;
}

check_result lifecycle_unload_without_shutdown(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    if (auto fault = try_init(plugin)) return *fault;
    frame_loop frames(plugin, true);
    frames.run(30);
    const HMODULE module = plugin.module();
    plugin.unload();
    const double unload_seconds = plugin.last_call_seconds();
    const double wait = context.scaled(3, 2);
    begin_call(plugin_call::after_free_library);
    // The host goes on: its messages handled, memory taken and given back.
    const double end = now_seconds() + wait;
    while (now_seconds() < end) {
        pump_for(0.05);
        std::free(std::malloc(4096));
    }
    end_call();
    check_result result = passed("FreeLibrary returned in " + ms_text(unload_seconds * 1000.0) + "; alive " +
                                 std::to_string(static_cast<int>(wait)) + " s later");
    result.notes.emplace_back(module_mapped(module) ? "the library stayed in the process, held by something it started"
                                                    : "the library left the process");
    return result;
}

check_result lifecycle_exit_without_shutdown(const check_context& context)
{
    constexpr int exit_code = 57;
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    if (auto fault = try_init(plugin)) return *fault;
    frame_loop(plugin, true).run(30);
    // Judged by the validator: the process must end with the host's own code.
    write_results(
        {{context.check->name, passed("the process ended with the host's exit code " + std::to_string(exit_code))}});
    expect_exit_code(exit_code);
    begin_call(plugin_call::process_exit);
    std::exit(exit_code);
}

check_result lifecycle_reload(const check_context& context)
{
    std::string error;
    for (int round = 1; round <= 3; ++round) {
        plugin_under_test plugin;
        if (!plugin.load(context.options.plugin_path, error))
            return not_loadable(error + " (load " + std::to_string(round) + ")");
        plugin.version();
        if (auto fault = try_init(plugin)) return *fault;
        frame_loop(plugin, true).run(10);
        plugin.shutdown();
        plugin.unload();
    }
    return passed("loaded, run and unloaded 3 times");
}

}  // namespace bodies

}  // namespace validate
