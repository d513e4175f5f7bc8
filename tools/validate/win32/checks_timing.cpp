// The timing group: Init and Shutdown return promptly, and Update keeps to
// its budget while the plug-in's own threads run.
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "tools/validate/child_verdict.h"
#include "tools/validate/statistics.h"
#include "tools/validate/win32/blocking_calls.h"
#include "tools/validate/win32/checks.h"
#include "tools/validate/win32/state_watch.h"

namespace validate {

namespace {

// Init and Shutdown, each timed, with a third of a second of frames between.
struct start_stop_times {
    double longest_init_ms = 0.0;
    double longest_shutdown_ms = 0.0;
};

std::optional<check_result> time_start_stop(const check_context& context, start_stop_times& times)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    for (int cycle = 0; cycle < context.scaled(5, 3); ++cycle) {
        if (auto fault = try_init(plugin)) return *fault;
        times.longest_init_ms = std::max(times.longest_init_ms, plugin.last_call_seconds() * 1000.0);
        frame_loop(plugin, true).run(20);
        plugin.shutdown();
        times.longest_shutdown_ms = std::max(times.longest_shutdown_ms, plugin.last_call_seconds() * 1000.0);
    }
    plugin.unload();
    return std::nullopt;
}

check_result judge_start_stop(plugin_call call, double longest_ms)
{
    const std::string name(call_name(call));
    check_result result =
        longest_ms <= start_stop_limit_ms
            ? passed("the longest " + name + " took " + ms_text(longest_ms))
            : failed(fault_kind::too_slow,
                     name + " took " + ms_text(longest_ms) + ", over the limit of " + ms_text(start_stop_limit_ms),
                     call);
    result.figures.emplace_back("longest_ms", longest_ms);
    result.figures.emplace_back("limit_ms", start_stop_limit_ms);
    return result;
}

// Runs of paced frames, each measured on its own: a run whose p99 is over
// the budget is followed by another, up to this many in all. A plug-in's
// stutter comes back in every run; a pause of a busy machine seldom does.
constexpr int update_runs = 3;

}  // namespace

namespace bodies {

check_result timing_blocking_calls(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    if (auto fault = try_init(plugin)) return *fault;
    frame_loop frames(plugin, true);
    const double seconds = context.scaled(10, 3);
    std::uint64_t updates = 0;
    frames.run_for(seconds, [&](double) { ++updates; });
    plugin.shutdown();
    plugin.unload();

    const blocking_calls_seen seen = blocking_calls_so_far();
    const std::string over = std::to_string(updates) + " Updates over " + seconds_text(seconds) + " of the flight";
    check_result result =
        seen.total == 0 ? passed(over + ": no call that can block the host's frame")
                        : passed(std::to_string(seen.updates) + " of " + over + " made " + std::to_string(seen.total) +
                                 " calls that can block the host's frame");
    // One warning a function, counted: "fwrite in Update (180 times)".
    for (const blocking_call_count& call : seen.calls)
        result.warnings.push_back({warning_kind::blocking_call, call.calls, std::string(call.name) + " in Update"});
    result.figures = {{"updates", double(updates)},
                      {"updates_with_blocking_calls", double(seen.updates)},
                      {"blocking_calls", double(seen.total)},
                      {"waited_ms", seen.waited_seconds * 1000.0}};
    return result;
}

check_result timing_start_stop(const check_context& context)
{
    start_stop_times times;
    if (auto fault = time_start_stop(context, times)) return *fault;
    return report_shared(context,
                         {{"timing.init", judge_start_stop(plugin_call::init, times.longest_init_ms)},
                          {"timing.shutdown", judge_start_stop(plugin_call::shutdown, times.longest_shutdown_ms)}});
}

check_result timing_update(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    if (auto fault = try_init(plugin)) return *fault;
    frame_loop frames(plugin, true);
    frames.run(30);  // the plug-in settles: its window made, its socket opened

    const double budget = context.options.budget_ms;
    const double seconds = context.scaled(10, 3);
    latency_summary summary;
    std::size_t over = 0;
    std::string earlier;  // the p99 of runs before the last
    int run = 1;
    for (;; ++run) {
        std::vector<double> samples;
        samples.reserve(static_cast<std::size_t>(seconds * frame_rate * 1.2));
        // A simulator's frame thread runs above the rest of the system; so
        // does this process while it measures, so that other programs show less.
        SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
        process_watch().resync();
        frames.run_for(seconds, [&](double call_seconds) { samples.push_back(call_seconds * 1000.0); });
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
        SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
        process_watch().resync();
        over = static_cast<std::size_t>(
            std::count_if(samples.begin(), samples.end(), [&](double ms) { return ms > budget; }));
        summary = summarize_latency(samples);
        if (summary.p99 <= budget || run == update_runs) break;
        earlier += (earlier.empty() ? "" : ", ") + ms_text(summary.p99);
    }
    plugin.shutdown();
    plugin.unload();

    char text[200];
    std::snprintf(text, sizeof text, "median %s, p99 %s, p99.9 %s, max %s over %zu frames",
                  ms_text(summary.median).c_str(), ms_text(summary.p99).c_str(), ms_text(summary.p999).c_str(),
                  ms_text(summary.max).c_str(), summary.count);
    check_result result = passed(text);
    if (summary.p99 > budget) {
        result = failed(fault_kind::too_slow, std::string(text) + ": p99 over the budget of " + ms_text(budget),
                        plugin_call::update);
    }
    result.figures = {{"median_ms", summary.median},     {"p99_ms", summary.p99},
                      {"p999_ms", summary.p999},         {"max_ms", summary.max},
                      {"frames", double(summary.count)}, {"budget_ms", budget},
                      {"over_budget", double(over)},     {"runs", double(run)}};
    if (over > 0)
        result.notes.push_back(std::to_string(over) + " Updates took longer than the budget of " + ms_text(budget));
    if (!earlier.empty()) result.notes.push_back("measured again after a p99 of " + earlier);
    return result;
}

}  // namespace bodies

}  // namespace validate
