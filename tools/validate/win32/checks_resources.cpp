// The resources group: what the plug-in leaves behind after Shutdown, and
// whether its handles and memory grow with frames or with cycles.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "tools/validate/statistics.h"
#include "tools/validate/win32/checks.h"
#include "tools/validate/win32/import_hooks.h"
#include "tools/validate/win32/load_readings.h"
#include "tools/validate/win32/module_table.h"
#include "tools/validate/win32/process_resources.h"
#include "tools/validate/win32/stack_walk.h"

namespace validate {

namespace {

// One Init, a half second of frames, one Shutdown.
void one_cycle(plugin_under_test& plugin, int frames)
{
    plugin.init();
    frame_loop(plugin, true).run(frames);
    plugin.shutdown();
}

// Polls `left` every 50 ms for up to a second until it comes back empty: a
// thread or window may take a moment to go after Shutdown. On a machine that
// holds the host's thread up, up to five seconds more.
template <class Left>
auto settle(Left left)
{
    auto remaining = left();
    for (int i = 0; i < 20 && !remaining.empty(); ++i) {
        pump_for(0.05);
        remaining = left();
    }
    if (!remaining.empty()) {
        wait_out_busy_machine(
            [&] {
                remaining = left();
                return remaining.empty();
            },
            5.0);
    }
    return remaining;
}

// Cycles of Init, frames and Shutdown; after each, `left` (the threads or
// windows that were not there before, polled for a second) must find none.
template <class Left, class Describe>
check_result nothing_left(plugin_under_test& plugin, int cycles, const std::string& things, Left left,
                          Describe describe)
{
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        one_cycle(plugin, 30);
        const auto found = settle(left);
        if (found.empty()) continue;
        std::string which;
        for (const auto& thing : found) which += (which.empty() ? "" : "; ") + describe(thing);
        std::string summary = things + " left a second after Shutdown: " + std::to_string(found.size());
        summary += " (" + which + ")";
        check_result result = failed(fault_kind::left_behind, std::move(summary), plugin_call::shutdown);
        result.notes.push_back("after Init and Shutdown number " + std::to_string(cycle));
        result.figures.emplace_back(things + "_left", double(found.size()));
        return result;  // the library stays loaded: unloading it under a running thread would crash
    }
    plugin.unload();
    check_result result = passed("none left after " + std::to_string(cycles) + " cycles of Init, frames and Shutdown");
    result.figures.emplace_back(things + "_left", 0);
    return result;
}

// How a growth check reads its resource and judges it.
struct growth_measure {
    const char* what;  // "handles", "committed bytes"
    double per_unit_limit;
    double noise;
    // A run stops as soon as it has grown by this much: a leak that large
    // is shown at once, and a plug-in that leaks fast takes no more.
    double bound;
    std::optional<double> (*read)();
    std::string (*amount)(double);
};

std::optional<double> read_handles()
{
    const std::optional<std::uint64_t> count = handle_count();
    return count ? std::optional<double>(static_cast<double>(*count)) : std::nullopt;
}

std::optional<double> read_memory()
{
    const std::optional<memory_figures> memory = memory_use();
    return memory ? std::optional<double>(static_cast<double>(memory->committed)) : std::nullopt;
}

std::string handle_amount(double handles)
{
    char text[48];
    std::snprintf(text, sizeof text, "%+.0f handles", handles);
    return text;
}

std::string memory_amount(double bytes)
{
    char text[48];
    if (bytes >= 10.0 * 1024 * 1024 || bytes <= -10.0 * 1024 * 1024)
        std::snprintf(text, sizeof text, "%+.1f MiB", bytes / (1024.0 * 1024.0));
    else
        std::snprintf(text, sizeof text, "%+.1f KiB", bytes / 1024.0);
    return text;
}

// A reading that succeeded, tried up to three times a moment apart: the
// system's table may be read while it changes.
std::optional<double> reading(const growth_measure& measure)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (std::optional<double> value = measure.read()) return value;
        Sleep(10);
    }
    return std::nullopt;
}

// Seconds a half of a growth run may take: a plug-in whose calls are slow,
// though within their limits, is measured over fewer frames or cycles.
constexpr double half_budget_seconds = 10.0;

// How often a run reads its resource to see whether it has reached the
// bound: every this many units, or every unit of a short run.
std::uint64_t reading_every(std::uint64_t units) noexcept
{
    return units >= 500 ? 50 : 1;
}

// Readings at the start, middle and end of two equal halves of `units`
// frames or cycles each, after a warm-up; `step` does one unit. A leak grows
// on every run, while the system's own steps (its heap taking another
// region, a cache filled) seldom land in both halves twice in a row: a
// growth is a leak when two runs show it. A first half that reaches the
// measure's bound ends there, and the second is as long: a growth past the
// bound in both halves is a leak at once, while a bound reached in one step
// only is measured again in full. Only runs whose every reading succeeded
// are judged.
struct growth_run {
    check_result result;
    bool at_bound = false;  // a leak shown at the bound, in however few units
};
template <class Step>
growth_run measure_growth(const growth_measure& measure, const char* unit, std::uint64_t units, Step step)
{
    growth_readings readings;
    growth_verdict verdict;
    bool at_bound = false;
    int growing_runs = 0;
    for (int run = 0; run < 3; ++run) {
        const std::optional<double> start = reading(measure);
        if (!start) {
            return {
                skipped(std::string("not measurable here: this system does not give the process's ") + measure.what)};
        }
        // The first half also ends when it has taken its time, should the
        // units take longer than the warm-up showed (a machine that got busy).
        std::uint64_t half = 0;
        at_bound = false;
        const double half_ends = now_seconds() + half_budget_seconds;
        while (half < units && !at_bound) {
            step();
            ++half;
            if (half % reading_every(units) != 0) continue;
            const std::optional<double> now = reading(measure);
            at_bound = now && *now - *start >= measure.bound;
            if (now_seconds() > half_ends) break;
        }
        const std::optional<double> middle = reading(measure);
        for (std::uint64_t i = 0; i < half; ++i) step();
        const std::optional<double> end = reading(measure);
        if (!middle || !end) {
            return {skipped(std::string("not measurable here: the system stopped giving the process's ") +
                            measure.what + " during the run")};
        }
        readings.units_per_half = half;
        readings.start = *start;
        readings.middle = *middle;
        readings.end = *end;
        verdict = judge_growth(readings, measure.per_unit_limit, measure.noise);
        growing_runs += verdict.grows ? 1 : 0;
        if ((verdict.grows && at_bound) || growing_runs == 2 || (!verdict.grows && !at_bound)) break;
    }
    const bool leak = verdict.grows && (at_bound || growing_runs >= 2);
    char per_unit[64];
    std::snprintf(per_unit, sizeof per_unit, "%.3g per %s", verdict.per_unit, unit);
    std::string text = measure.amount(readings.middle - readings.start) + " and " +
                       measure.amount(readings.end - readings.middle) + " over two halves of " +
                       std::to_string(readings.units_per_half) + " " + unit + "s (" + per_unit + ")";
    if (leak && at_bound)
        text += ", stopped once the first half had grown by the bound of " + measure.amount(measure.bound).substr(1);
    else if (leak)
        text += ", in two runs";
    check_result result =
        leak ? failed(fault_kind::growth, std::string(measure.what) + " grow: " + text) : passed(text);
    result.figures = {{"start", readings.start},
                      {"middle", readings.middle},
                      {"end", readings.end},
                      {"per_" + std::string(unit), verdict.per_unit},
                      {"stopped_at_bound", leak && at_bound ? 1.0 : 0.0}};
    return {result, leak && at_bound};
}

// The units of a half: `wanted`, or as many as the budget holds at the
// seconds the warm-up took for one, with a note that a leak must then be
// larger to show.
std::uint64_t units_per_half(std::uint64_t wanted, std::uint64_t fewest, double unit_seconds, const char* unit,
                             std::vector<std::string>& notes)
{
    const std::uint64_t units = units_within(unit_seconds, half_budget_seconds, wanted, fewest);
    if (units < wanted) {
        notes.push_back(std::to_string(units) + " " + unit + "s a half instead of " + std::to_string(wanted) +
                        ", as one took " + ms_text(unit_seconds * 1000.0) + ": a leak must be larger to show");
    }
    return units;
}

// A leak grows by at least the limit per unit in both halves, and by more
// than the noise (see judge_growth).
// The bounds: far above the noise, and far below what a process may take.
constexpr double handle_bound = 1000.0;
constexpr double memory_bound = 16.0 * 1024 * 1024;
const growth_measure handles_frame{"handles", 0.05, 16.0, handle_bound, read_handles, handle_amount};
const growth_measure handles_cycle{"handles", 0.5, 16.0, handle_bound, read_handles, handle_amount};
const growth_measure memory_frame{"committed bytes", 16.0, 256.0 * 1024.0, memory_bound, read_memory, memory_amount};
const growth_measure memory_cycle{"committed bytes", 4096.0, 256.0 * 1024.0, memory_bound, read_memory, memory_amount};

// `frames`: per half, full and quick. A handle a frame stands out of the
// noise within a few hundred frames; a small allocation needs thousands.
check_result per_frame(const check_context& context, const growth_measure& measure, int full_frames, int quick_frames)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    if (auto fault = try_init(plugin)) return *fault;
    frame_loop frames(plugin, false);
    // Warm-up: buffers grown, the socket opened, then a pause long enough for
    // the plug-in's own threads to have done their first work (a window's
    // first paints) without more frames. A plug-in that grows by the bound
    // meanwhile has warmed up enough.
    const double warm_up_start = now_seconds();
    const std::optional<double> warm_up_reading = reading(measure);
    int warm_up_frames = 0;
    while (warm_up_frames < 500) {
        frames.run(50);
        warm_up_frames += 50;
        const std::optional<double> now = warm_up_reading ? reading(measure) : std::nullopt;
        if (now && *now - *warm_up_reading >= measure.bound) break;
    }
    const double frame_seconds = (now_seconds() - warm_up_start) / warm_up_frames;
    pump_for(1.5);
    std::vector<std::string> notes;
    const std::uint64_t units = units_per_half(static_cast<std::uint64_t>(context.scaled(full_frames, quick_frames)),
                                               200, frame_seconds, "frame", notes);
    growth_run run = measure_growth(measure, "frame", units, [&] { frames.run(1); });
    check_result& result = run.result;
    if (result.result == outcome::failed) result.call = plugin_call::update;
    // Fewer frames hide only a smaller leak.
    if (!run.at_bound)
        for (std::string& note : notes) result.notes.push_back(std::move(note));
    plugin.shutdown();
    plugin.unload();
    return result;
}

check_result per_cycle(const check_context& context, const growth_measure& measure)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    const double warm_up_start = now_seconds();
    one_cycle(plugin, 5);  // warm-up
    one_cycle(plugin, 5);
    const double cycle_seconds = (now_seconds() - warm_up_start) / 2.0;
    std::vector<std::string> notes;
    const std::uint64_t units =
        units_per_half(static_cast<std::uint64_t>(context.scaled(20, 8)), 4, cycle_seconds, "cycle", notes);
    growth_run run = measure_growth(measure, "cycle", units, [&] { one_cycle(plugin, 5); });
    plugin.unload();
    if (!run.at_bound)
        for (std::string& note : notes) run.result.notes.push_back(std::move(note));
    return run.result;
}

}  // namespace

namespace bodies {

check_result resources_threads_after_shutdown(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    const auto before = process_threads();
    if (!before) return skipped("not measurable here: no Toolhelp list of this process's threads");
    std::set<DWORD> known;
    for (const thread_entry& thread : *before) known.insert(thread.id);
    std::set<long> callbacks_known;
    for (const auto& [index, callback] : recurring_callbacks()) callbacks_known.insert(index);
    // The threads that the system's own components started for the calls
    // (the thread pool's workers, which it keeps and reuses): seen, not counted.
    std::set<DWORD> system_threads;
    std::vector<std::string> system_starts;
    check_result result = nothing_left(
        plugin, context.scaled(5, 3), "threads",
        [&] {
            std::vector<std::string> found;
            const module_range code = plugin_range();
            for (const thread_entry& thread : process_threads().value_or(std::vector<thread_entry>{})) {
                if (known.count(thread.id) != 0) continue;
                if (started_by_plugin(thread.id) || code.contains(thread.start) || runs_code_of(thread.id, code)) {
                    found.push_back("a thread started at " + describe_address(thread.start));
                } else if (system_threads.insert(thread.id).second) {
                    system_starts.push_back(describe_address(thread.start));
                }
            }
            // Callbacks the plug-in set to come back run on threads too.
            for (const auto& [index, callback] : recurring_callbacks())
                if (callbacks_known.count(index) == 0) found.push_back(callback + ", still set");
            return found;
        },
        [](const std::string& thing) { return thing; });
    if (!system_starts.empty()) {
        // "ntdll.dll+0x60a00 (2 threads), ntdll.dll+0x5f170".
        std::map<std::string, int> by_start;
        for (const std::string& start : system_starts) ++by_start[start];
        std::string starts;
        for (const auto& [start, count] : by_start)
            starts +=
                (starts.empty() ? "" : ", ") + start + (count > 1 ? " (" + std::to_string(count) + " threads)" : "");
        result.notes.push_back(std::to_string(system_starts.size()) +
                               (system_starts.size() == 1 ? " thread" : " threads") +
                               " of the system's own (the thread pool's workers, which it keeps for the process), "
                               "neither started by the plug-in nor running its code, not counted: started at " +
                               starts);
    }
    return result;
}

check_result resources_windows_after_shutdown(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    const std::vector<HWND> before = process_windows();
    return nothing_left(
        plugin, context.scaled(3, 2), "windows",
        [&] {
            std::vector<HWND> found;
            for (HWND window : process_windows())
                if (std::find(before.begin(), before.end(), window) == before.end()) found.push_back(window);
            return found;
        },
        describe_window);
}

check_result resources_handles_per_frame(const check_context& context)
{
    // Few frames: a socket leaked per frame is a file descriptor under Wine,
    // and the process's limit on them must not end the leak early.
    return per_frame(context, handles_frame, 2000, 1000);
}

check_result resources_handles_per_cycle(const check_context& context)
{
    return per_cycle(context, handles_cycle);
}

check_result resources_memory_per_frame(const check_context& context)
{
    return per_frame(context, memory_frame, 8000, 3000);
}

check_result resources_memory_per_cycle(const check_context& context)
{
    return per_cycle(context, memory_cycle);
}

}  // namespace bodies

}  // namespace validate
