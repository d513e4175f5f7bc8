// Update's latency figures and the judgement of growth.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tools/validate/statistics.h"

using namespace validate;

TEST(Latency, NearestRankPercentilesOfAnyOrder)
{
    std::vector<double> samples;
    for (int i = 1; i <= 1000; ++i) samples.push_back(i);
    std::shuffle(samples.begin(), samples.end(), std::mt19937(7));
    const latency_summary s = summarize_latency(samples);
    EXPECT_EQ(s.count, 1000u);
    EXPECT_EQ(s.median, 500.0);
    EXPECT_EQ(s.p99, 990.0);
    EXPECT_EQ(s.p999, 999.0);
    EXPECT_EQ(s.max, 1000.0);

    // 600 frames with three stalls: p99 stays below them, p99.9 and max see one.
    std::vector<double> frames(600, 0.1);
    frames[10] = frames[300] = frames[599] = 25.0;
    const latency_summary f = summarize_latency(frames);
    EXPECT_EQ(f.p99, 0.1);
    EXPECT_EQ(f.p999, 25.0);

    std::vector<double> one = {3.5};
    const latency_summary o = summarize_latency(one);
    EXPECT_EQ(o.median, 3.5);
    EXPECT_EQ(o.p999, 3.5);
    std::vector<double> none;
    EXPECT_EQ(summarize_latency(none).count, 0u);
}

TEST(Growth, ALeakGrowsBothHalvesAStepOrJitterDoesNot)
{
    // One handle a frame over two halves of 8000 frames, on top of a base.
    const growth_verdict leak = judge_growth({300, 8300, 16300, 8000}, 0.05, 16);
    EXPECT_TRUE(leak.grows);
    EXPECT_DOUBLE_EQ(leak.per_unit, 1.0);
    // One every ten frames is still a leak; one every hundred is below the limit.
    EXPECT_TRUE(judge_growth({300, 1100, 1900, 8000}, 0.05, 16).grows);
    EXPECT_FALSE(judge_growth({300, 380, 460, 8000}, 0.05, 16).grows);
    // A one-time step (a buffer grown, a pool filled) lands in one half.
    const growth_verdict step = judge_growth({1000, 3600000, 3600000, 8000}, 16, 262144);
    EXPECT_FALSE(step.grows);
    EXPECT_EQ(step.per_unit, 0.0);  // nothing of it is sustained
    EXPECT_FALSE(judge_growth({1000, 1000, 3600000, 8000}, 16, 262144).grows);
    // Jitter within the noise, and shrinking, are no growth.
    EXPECT_FALSE(judge_growth({100, 110, 120, 20}, 0.5, 16).grows);
    EXPECT_FALSE(judge_growth({16300, 8300, 300, 8000}, 0.05, 16).grows);
    // A small leak over few units must clear the noise as well as the limit.
    EXPECT_TRUE(judge_growth({100, 120, 140, 20}, 0.5, 16).grows);
    EXPECT_FALSE(judge_growth({100, 109, 118, 20}, 0.5, 4).grows);  // 9 per half < 0.5 x 20
    EXPECT_FALSE(judge_growth({0, 5, 10, 0}, 0.0, 0.0).grows);  // no units, no verdict
}
