// The timing group: Init and Shutdown return promptly, and Update keeps to
// its budget while the plug-in's own threads run. A time over its limit is
// judged against what the machine did meanwhile (timing_judgement): the
// plug-in's own slowness fails, a busy machine's is measured again and, when
// every measurement was disturbed, not judged.
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "tools/validate/child_verdict.h"
#include "tools/validate/statistics.h"
#include "tools/validate/win32/blocking_calls.h"
#include "tools/validate/win32/checks.h"
#include "tools/validate/win32/load_readings.h"
#include "tools/validate/win32/state_watch.h"

namespace validate {

namespace {

// A check measures again after a disturbed measurement, up to this many in
// all, while the check's time allows.
constexpr int measurements = 3;
// A check starts another measurement only while it can end within this many
// seconds of its start: well within the check's limit of a minute.
constexpr double measuring_seconds = 45.0;

// The probe's waits after an Update, in a quarter of a frame.
void probe_after_update(wait_probe& probe, std::vector<double>& delays_ms)
{
    probe.take(delays_ms, probes_per_frame, 0.25 / frame_rate);
}

// ---- Init and Shutdown ----

// The call of one kind that decides a round of cycles: the longest over the
// limit by the plug-in's own doing, else the longest disturbed one, else the
// longest of all.
struct call_verdict {
    double ms = 0.0;
    time_judgement judgement;
};

void take_call(call_verdict& verdict, double ms, const time_judgement& judgement)
{
    const auto rank = [](const time_judgement& j) {
        return j.verdict == time_verdict::own ? 2 : j.verdict == time_verdict::disturbed ? 1 : 0;
    };
    if (rank(judgement) > rank(verdict.judgement) || (rank(judgement) == rank(verdict.judgement) && ms > verdict.ms))
        verdict = {ms, judgement};
}

// A round of cycles: Init, a third of a second of frames, Shutdown.
struct start_stop_round {
    call_verdict init;
    call_verdict shutdown;
};

std::optional<check_result> time_round(plugin_under_test& plugin, wait_probe& probe, int cycles,
                                       start_stop_round& round)
{
    for (int cycle = 0; cycle < cycles; ++cycle) {
        if (auto fault = try_init(plugin)) return *fault;
        const double init_ms = plugin.last_call_seconds() * 1000.0;
        const std::optional<processor_use> init_use = plugin.last_call_use();
        // The probe's waits of the cycle's frames serve both calls.
        std::vector<double> delays;
        frame_loop(plugin, true).run(20, [&](double) { probe_after_update(probe, delays); });
        plugin.shutdown();
        const double shutdown_ms = plugin.last_call_seconds() * 1000.0;
        take_call(round.shutdown, shutdown_ms,
                  judge_call(shutdown_ms, start_stop_limit_ms, call_evidence(plugin.last_call_use(), delays)));
        take_call(round.init, init_ms,
                  judge_call(init_ms, start_stop_limit_ms, call_evidence(init_use, std::move(delays))));
    }
    return std::nullopt;
}

// What the rounds of one kind of call came to.
struct call_outcome {
    bool decided = false;  // within, or over by the plug-in's own doing
    call_verdict last;  // the deciding round's, or the last round's
    double least_share = 1.0;  // other programs' least share in a disturbed round
    int rounds = 0;
};

void take_round(call_outcome& outcome, const call_verdict& round)
{
    if (outcome.decided) return;
    ++outcome.rounds;
    outcome.last = round;
    outcome.decided = round.judgement.verdict != time_verdict::disturbed;
    if (!outcome.decided) outcome.least_share = std::min(outcome.least_share, round.judgement.others_share);
}

// Why a call over the limit on a busy machine may be the machine's.
std::string disturbed_call_text(const time_judgement& judgement)
{
    if (judgement.cpu_per_slow_call_ms > 0.0)
        return "it computed (" + ms_text(judgement.cpu_per_slow_call_ms) +
               " of processor time counted), which other programs slow down";
    if (judgement.waits == 0) return "no probe of the host's waits tells whether they held it up";
    return "they held the host's thread up " + ms_text(judgement.wait_delay_median_ms) + " at the median wait";
}

check_result judge_start_stop(plugin_call call, const call_outcome& outcome, int cycles)
{
    const std::string name(call_name(call));
    const call_verdict& verdict = outcome.last;
    const time_judgement& judgement = verdict.judgement;
    const std::string over =
        name + " took " + ms_text(verdict.ms) + ", over the limit of " + ms_text(start_stop_limit_ms);
    check_result result;
    switch (judgement.verdict) {
        case time_verdict::within: result = passed("the longest " + name + " took " + ms_text(verdict.ms)); break;
        case time_verdict::own:
            result = failed(fault_kind::too_slow, over + ": " + own_reason_text(judgement), call);
            break;
        case time_verdict::disturbed:
            result = validator_error("not judged: other programs used at least " + percent_text(outcome.least_share) +
                                     " of the processors during each of " + std::to_string(outcome.rounds) +
                                     (outcome.rounds == 1 ? " round" : " rounds") + " of " + std::to_string(cycles) +
                                     " cycles; " + over + ", and " + disturbed_call_text(judgement));
            break;
    }
    result.figures.emplace_back("longest_ms", verdict.ms);
    result.figures.emplace_back("limit_ms", start_stop_limit_ms);
    result.figures.emplace_back("rounds", outcome.rounds);
    if (judgement.verdict != time_verdict::within) {
        result.figures.emplace_back("others_share", judgement.verdict == time_verdict::disturbed
                                                        ? outcome.least_share
                                                        : judgement.others_share);
        result.figures.emplace_back("cpu_ms", judgement.cpu_per_slow_call_ms);
        if (judgement.waits > 0) result.figures.emplace_back("wait_delay_median_ms", judgement.wait_delay_median_ms);
    }
    if (outcome.rounds > 1 && judgement.verdict != time_verdict::disturbed) {
        result.notes.push_back("measured again after " + std::to_string(outcome.rounds - 1) +
                               (outcome.rounds == 2 ? " round" : " rounds") + " of " + std::to_string(cycles) +
                               " cycles that other programs disturbed");
    }
    return result;
}

// ---- Update ----

// One run of paced Updates, timed, with what the machine did meanwhile.
struct update_run {
    latency_summary summary;
    std::size_t over = 0;  // Updates over the budget
    time_judgement judgement;
};

update_run measure_updates(plugin_under_test& plugin, frame_loop& frames, wait_probe& probe, double seconds,
                           double budget)
{
    std::vector<double> samples;
    timing_evidence evidence;
    evidence.cpu_step_ms = cpu_step_ms();
    const auto expected = static_cast<std::size_t>(seconds * frame_rate * 1.2);
    samples.reserve(expected);
    evidence.call_cpu_ms.reserve(expected);
    evidence.wait_delay_ms.reserve(expected * probes_per_frame);
    // A simulator's frame thread runs above the rest of the system; so
    // does this process while it measures, so that other programs show less
    // (where the system honours it: Wine leaves every thread at the same
    // priority).
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    process_watch().resync();
    const std::optional<processor_reading> before = read_processors();
    frames.run_for(seconds, [&](double call_seconds) {
        samples.push_back(call_seconds * 1000.0);
        const std::optional<processor_use>& use = plugin.last_call_use();
        evidence.call_cpu_ms.push_back(use ? use->own_seconds * 1000.0 : 0.0);
        probe_after_update(probe, evidence.wait_delay_ms);
    });
    evidence.use = processor_use_between(before, read_processors());
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
    process_watch().resync();

    update_run run;
    run.over =
        static_cast<std::size_t>(std::count_if(samples.begin(), samples.end(), [&](double ms) { return ms > budget; }));
    run.judgement = judge_update_run(samples, budget, evidence);
    run.summary = summarize_latency(samples);
    return run;
}

// "p99 9.05 ms (disturbed: other programs used 97 % of the processors ...)".
std::string earlier_run_text(const update_run& run)
{
    std::string text = ms_text(run.summary.p99);
    if (run.judgement.verdict == time_verdict::disturbed) text += " (disturbed: " + machine_text(run.judgement) + ")";
    return text;
}

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
    check_result result = seen.total == 0
                              ? passed(over + ": no call that can block the host's frame")
                              : passed(std::to_string(seen.updates) + " of " + over + " made " +
                                       std::to_string(seen.total) + " calls that can block the host's frame");
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
    const double start = now_seconds();
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    plugin.read_processors_around_calls(true);
    wait_probe probe;
    const int cycles = context.scaled(5, 3);
    call_outcome init, shutdown;
    double round_seconds = 0.0;
    for (int round = 1; round <= measurements; ++round) {
        if (round > 1 && now_seconds() - start + round_seconds > measuring_seconds) break;
        const double round_start = now_seconds();
        start_stop_round times;
        if (auto fault = time_round(plugin, probe, cycles, times)) return *fault;
        round_seconds = now_seconds() - round_start;
        take_round(init, times.init);
        take_round(shutdown, times.shutdown);
        if (init.decided && shutdown.decided) break;
    }
    plugin.unload();
    return report_shared(context, {{"timing.init", judge_start_stop(plugin_call::init, init, cycles)},
                                   {"timing.shutdown", judge_start_stop(plugin_call::shutdown, shutdown, cycles)}});
}

check_result timing_update(const check_context& context)
{
    const double start = now_seconds();
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    if (auto fault = try_init(plugin)) return *fault;
    plugin.read_processors_around_calls(true);
    wait_probe probe;
    frame_loop frames(plugin, true);
    frames.run(30);  // the plug-in settles: its window made, its socket opened

    const double budget = context.options.budget_ms;
    const double seconds = context.scaled(10, 3);
    // Each run over the budget is followed by another, up to `measurements`:
    // a plug-in's stutter comes back in every run, a busy machine's pause
    // seldom does. The verdict is the first run within the budget (a pass);
    // without one, a run that was the plug-in's own slowness (a failure);
    // without one either, every run was disturbed (not judged).
    std::vector<update_run> runs;
    while (static_cast<int>(runs.size()) < measurements) {
        if (!runs.empty() && now_seconds() - start + seconds * 1.5 > measuring_seconds) break;
        runs.push_back(measure_updates(plugin, frames, probe, seconds, budget));
        if (runs.back().judgement.verdict == time_verdict::within) break;
    }
    plugin.shutdown();
    plugin.unload();

    // The deciding run: the one within the budget, else the last own one, else the last.
    auto deciding = std::find_if(runs.rbegin(), runs.rend(),
                                 [](const update_run& run) { return run.judgement.verdict == time_verdict::own; });
    const update_run& run =
        runs.back().judgement.verdict == time_verdict::within || deciding == runs.rend() ? runs.back() : *deciding;
    const latency_summary& summary = run.summary;
    const time_judgement& judgement = run.judgement;

    char text[200];
    std::snprintf(text, sizeof text, "median %s, p99 %s, p99.9 %s, max %s over %zu frames",
                  ms_text(summary.median).c_str(), ms_text(summary.p99).c_str(), ms_text(summary.p999).c_str(),
                  ms_text(summary.max).c_str(), summary.count);
    check_result result = passed(text);
    double least_share = 1.0;
    for (const update_run& each : runs) least_share = std::min(least_share, each.judgement.others_share);
    if (judgement.verdict == time_verdict::own) {
        result = failed(fault_kind::too_slow,
                        std::string(text) + ": p99 over the budget of " + ms_text(budget) + "; " +
                            own_reason_text(judgement),
                        plugin_call::update);
    } else if (judgement.verdict == time_verdict::disturbed) {
        const std::string held_up = judgement.waits > 0 ? "and held the host's thread up as long as its Updates "
                                                          "were over the budget, as often"
                                                        : "(no probe of the host's waits tells whether they held "
                                                          "it up)";
        result = validator_error("not judged: other programs used at least " + percent_text(least_share) +
                                 " of the processors during each of " + std::to_string(runs.size()) +
                                 (runs.size() == 1 ? " run " : " runs ") + held_up + "; p99 " + ms_text(summary.p99) +
                                 " against the budget of " + ms_text(budget) + " (" + text + ")");
    }
    result.figures = {
        {"median_ms", summary.median},
        {"p99_ms", summary.p99},
        {"p999_ms", summary.p999},
        {"max_ms", summary.max},
        {"frames", double(summary.count)},
        {"budget_ms", budget},
        {"over_budget", double(run.over)},
        {"runs", double(runs.size())},
        {"others_share", judgement.verdict == time_verdict::disturbed ? least_share : judgement.others_share}};
    if (judgement.waits > 0) result.figures.emplace_back("wait_delay_median_ms", judgement.wait_delay_median_ms);
    if (judgement.slow_calls > 0) result.figures.emplace_back("cpu_per_slow_update_ms", judgement.cpu_per_slow_call_ms);
    if (run.over > 0)
        result.notes.push_back(std::to_string(run.over) + " Updates took longer than the budget of " + ms_text(budget));
    std::string earlier;
    for (const update_run& each : runs)
        if (&each != &run) earlier += (earlier.empty() ? "" : ", ") + earlier_run_text(each);
    if (!earlier.empty()) result.notes.push_back("measured in other runs: p99 " + earlier);
    if (!probe.available())
        result.notes.emplace_back("no high-resolution timer for the wait probe: a run over the budget on a busy "
                                  "machine is not judged");
    return result;
}

}  // namespace bodies

}  // namespace validate
