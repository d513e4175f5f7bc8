// Whether a time over its limit is the plug-in's own or a busy machine's,
// judged from figures like those measured under Wine on a two-processor
// machine, quiet and with other programs on every processor.
#include <gtest/gtest.h>

#include <random>

#include "tools/validate/timing_judgement.h"

using namespace validate;

namespace {

// `seconds` on two processors, this process using a twentieth of one.
processor_use busy_machine(double others, double seconds = 10.0)
{
    return {seconds, 2.0, (others * 2.0 + 0.05) * seconds, 0.05 * seconds};
}

// A run of paced Updates: `times` each, this process's processor time
// during each, other programs' share and the probe's delays.
timing_evidence evidence_of(std::vector<double> cpu_ms, double others, std::vector<double> delays_ms)
{
    timing_evidence evidence;
    evidence.use = busy_machine(others);
    evidence.call_cpu_ms = std::move(cpu_ms);
    evidence.cpu_step_ms = 15.625;
    evidence.wait_delay_ms = std::move(delays_ms);
    return evidence;
}

// `count` values, `share` of them `high` and the rest `low`, spread evenly.
std::vector<double> mixed(std::size_t count, double low, double high, double share)
{
    std::vector<double> values(count, low);
    const auto every = static_cast<std::size_t>(1.0 / share);
    for (std::size_t i = 0; i < count; i += every) values[i] = high;
    return values;
}

}  // namespace

TEST(TimingJudgement, OthersShareAndTheWordsForIt)
{
    EXPECT_DOUBLE_EQ(others_share({10.0, 2.0, 17.5, 0.5}), 0.85);
    EXPECT_DOUBLE_EQ(others_share({10.0, 2.0, 0.4, 0.5}), 0.0);  // counted in steps: never below 0
    EXPECT_DOUBLE_EQ(others_share({10.0, 2.0, 21.0, 0.0}), 1.0);  // nor above all of it
    EXPECT_DOUBLE_EQ(others_share({0.0, 2.0, 1.0, 0.0}), 0.0);
    EXPECT_EQ(percent_text(0.998), "99 %");  // "at least": rounded down
    EXPECT_EQ(percent_text(1.0), "100 %");
    EXPECT_EQ(percent_text(0.5), "50 %");
}

TEST(TimingJudgement, BinomialTail)
{
    EXPECT_DOUBLE_EQ(binomial_tail(10, 0.5, 0), 1.0);
    EXPECT_EQ(binomial_tail(10, 0.5, 11), 0.0);
    EXPECT_NEAR(binomial_tail(10, 0.5, 6), 386.0 / 1024.0, 1e-12);
    EXPECT_NEAR(binomial_tail(8, 0.2, 8), std::pow(0.2, 8), 1e-15);
    EXPECT_NEAR(binomial_tail(1000, 0.5, 500), 0.5126, 1e-4);
    EXPECT_LT(binomial_tail(3000, 0.2, 2000), 1e-300);
}

TEST(TimingJudgement, UpdatesWithinTheBudgetOrOverItByTheirOwnDoing)
{
    // Six of 600 over the budget: the p99 is within it, whatever the machine did.
    std::vector<double> times = mixed(600, 0.2, 30.0, 0.01);
    EXPECT_EQ(judge_update_run(times, 5.0, timing_evidence{}).verdict, time_verdict::within);

    // Every Update computes for 8 ms: most readings one step (10 ms under
    // Wine), some none. Under load they take 25 ms, but they computed.
    times.assign(180, 25.0);
    time_judgement computed = judge_update_run(times, 5.0, evidence_of(mixed(180, 10.0, 0.0, 0.2), 0.9, {}));
    EXPECT_EQ(computed.verdict, time_verdict::own);
    EXPECT_EQ(computed.reason, own_reason::computed);
    EXPECT_NEAR(computed.cpu_per_slow_call_ms, 8.0, 0.1);
    // Readings averaging 6 ms over a handful of Updates are within a step's
    // doubt of the budget: not proof of computing.
    times.assign(5, 25.0);
    EXPECT_NE(judge_update_run(times, 5.0, evidence_of({10, 10, 0, 10, 0}, 0.9, {})).reason, own_reason::computed);

    // Over the budget while other programs left the processors mostly free.
    times = mixed(600, 0.1, 25.0, 0.05);
    time_judgement free = judge_update_run(times, 5.0, evidence_of(std::vector<double>(600, 0.0), 0.07, {}));
    EXPECT_EQ(free.reason, own_reason::machine_free);
    // Unknown processor use proves nothing: with nothing else, not judged.
    timing_evidence unknown = evidence_of(std::vector<double>(600, 0.0), 0.07, {});
    unknown.use.reset();
    EXPECT_EQ(judge_update_run(times, 5.0, unknown).verdict, time_verdict::disturbed);
}

TEST(TimingJudgement, UpdatesOnABusyMachineAgainstTheProbe)
{
    // Every Update sleeps 8 ms, with other programs on both processors:
    // a quarter of the probe's waits were held up 3 ms, none 8 ms.
    const std::vector<double> held_up = mixed(720, 0.1, 3.0, 0.25);
    const std::vector<double> no_cpu(180, 0.0);
    time_judgement sleeps = judge_update_run(std::vector<double>(180, 8.1), 5.0, evidence_of(no_cpu, 0.98, held_up));
    EXPECT_EQ(sleeps.verdict, time_verdict::own);
    EXPECT_EQ(sleeps.reason, own_reason::waits_prompt);
    EXPECT_EQ(sleeps.calls_over, 180u);

    // Every 20th Update sleeps 25 ms; the probe's waits were held up 12 ms
    // twice in 2400.
    std::vector<double> delays = mixed(2400, 0.1, 0.6, 0.3);
    delays[7] = delays[1001] = 12.0;
    time_judgement stutter =
        judge_update_run(mixed(600, 0.1, 25.0, 0.05), 5.0, evidence_of(std::vector<double>(600, 0.0), 0.98, delays));
    EXPECT_EQ(stutter.reason, own_reason::waits_prompt);

    // The same Updates while the machine held the probe's waits up as long,
    // as often: disturbed. So are Updates over the budget without a probe.
    delays = mixed(2400, 0.1, 30.0, 0.05);
    EXPECT_EQ(judge_update_run(mixed(600, 0.1, 25.0, 0.05), 5.0, evidence_of(no_cpu, 0.98, delays)).verdict,
              time_verdict::disturbed);
    EXPECT_EQ(judge_update_run(std::vector<double>(180, 8.1), 5.0, evidence_of(no_cpu, 0.98, {})).verdict,
              time_verdict::disturbed);
}

TEST(TimingJudgement, ASoundPluginHeldUpLikeTheProbeIsNeverCalledSlow)
{
    // Each Update's own 0.1 ms plus one hold-up drawn from the same
    // heavy-tailed spread as the probe's waits (half under 0.2 ms, one in
    // forty over the budget), four probes an Update or, on a machine that
    // leaves less time for them, one: over the budget, never the plug-in's.
    int over_budget = 0;
    for (unsigned seed = 1; seed <= 60; ++seed) {
        std::mt19937 random(seed);
        std::lognormal_distribution<double> hold_up(std::log(0.2), 1.6);
        std::vector<double> times, delays;
        for (int i = 0; i < 600; ++i) times.push_back(0.1 + hold_up(random));
        for (int i = 0; i < (seed % 2 == 0 ? 2400 : 600); ++i) delays.push_back(hold_up(random));
        const time_judgement judgement =
            judge_update_run(times, 5.0, evidence_of(std::vector<double>(600, 0.0), 0.97, delays));
        EXPECT_NE(judgement.verdict, time_verdict::own) << "seed " << seed;
        over_budget += judgement.verdict == time_verdict::disturbed ? 1 : 0;
    }
    EXPECT_GT(over_budget, 50);  // the p99 was over the budget: the runs tested the judgement
}

TEST(TimingJudgement, OneCall)
{
    const std::vector<double> prompt = mixed(60, 0.1, 0.9, 0.2);
    const std::vector<double> slow = mixed(60, 2.0, 9.0, 0.2);
    const auto call = [](double cpu_ms, double others, std::vector<double> delays) {
        timing_evidence evidence = evidence_of({cpu_ms}, others, std::move(delays));
        evidence.use = busy_machine(others, 1.5);
        return evidence;
    };
    EXPECT_EQ(judge_call(120.0, 500.0, call(0.0, 0.99, {})).verdict, time_verdict::within);
    // Computed 700 ms itself; 510 ms is within a step's doubt of the limit.
    EXPECT_EQ(judge_call(900.0, 500.0, call(700.0, 0.99, slow)).reason, own_reason::computed);
    EXPECT_EQ(judge_call(900.0, 500.0, call(510.0, 0.99, slow)).verdict, time_verdict::disturbed);
    // A sleep of 1.5 s: on a quiet machine, and on a busy one that held
    // nothing up.
    EXPECT_EQ(judge_call(1500.0, 500.0, call(0.0, 0.08, prompt)).reason, own_reason::machine_free);
    EXPECT_EQ(judge_call(1500.0, 500.0, call(0.0, 0.99, prompt)).reason, own_reason::blocked);
    // Disturbed: it computed a little (waiting for its own threads, which
    // others slow down), or the machine held the host's thread up, or
    // nothing tells.
    EXPECT_EQ(judge_call(600.0, 500.0, call(10.0, 0.99, prompt)).verdict, time_verdict::disturbed);
    EXPECT_EQ(judge_call(600.0, 500.0, call(0.0, 0.99, slow)).verdict, time_verdict::disturbed);
    EXPECT_EQ(judge_call(600.0, 500.0, call(0.0, 0.99, {})).verdict, time_verdict::disturbed);

    EXPECT_TRUE(machine_held_up(call(0.0, 0.99, slow)));
    EXPECT_FALSE(machine_held_up(call(0.0, 0.99, prompt)));
    EXPECT_FALSE(machine_held_up(call(0.0, 0.3, slow)));
}
