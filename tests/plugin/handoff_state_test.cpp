#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <thread>

#include "plugin/handoff_state.h"
#include "tests/support/failing_new.h"
#include "tests/support/message_builder.h"

namespace {

using namespace test_messages;

tm_message_list frame_of(std::size_t count, double time)
{
    tm_message_list frame;
    for (std::size_t i = 0; i < count; ++i) frame.push_back(simulation_time(time + static_cast<double>(i)));
    return frame;
}

TEST(Handoff, DisplayGetsACopyOfTheFrameAndItsTimeStep)
{
    handoff_state handoff;
    const tm_message_list frame = frame_of(3, 10.0);
    handoff.hand_off(frame, 0.02);

    tm_message_list shown;
    double time_step = 0.0;
    handoff.take_latest(shown, time_step);
    EXPECT_TRUE(same_records(shown, frame));
    EXPECT_EQ(time_step, 0.02);
}

TEST(Handoff, BeforeAnyFrameThePaintKeepsItsEmptyList)
{
    handoff_state handoff;
    tm_message_list shown;
    double time_step = 0.0;
    handoff.take_latest(shown, time_step);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(time_step, 0.0);
}

TEST(Handoff, PaintWithoutNewFrameKeepsTheFrameItShows)
{
    handoff_state handoff;
    const tm_message_list first = frame_of(2, 1.0);
    const tm_message_list second = frame_of(5, 2.0);
    tm_message_list shown;
    double time_step = 0.0;

    handoff.hand_off(first, 0.1);
    handoff.take_latest(shown, time_step);
    handoff.hand_off(second, 0.2);
    handoff.take_latest(shown, time_step);
    ASSERT_TRUE(same_records(shown, second));

    // No hand-off since: the older frame must not come back (no flicker).
    for (int paint = 0; paint < 3; ++paint) {
        handoff.take_latest(shown, time_step);
        EXPECT_TRUE(same_records(shown, second));
        EXPECT_EQ(time_step, 0.2);
    }
}

TEST(Handoff, SeveralFramesBetweenTwoPaintsGiveTheLast)
{
    handoff_state handoff;
    handoff.hand_off(frame_of(4, 1.0), 0.1);
    handoff.hand_off(frame_of(1, 2.0), 0.2);
    const tm_message_list last = frame_of(3, 3.0);
    handoff.hand_off(last, 0.3);

    tm_message_list shown = frame_of(7, 9.0);
    double time_step = 0.0;
    handoff.take_latest(shown, time_step);
    EXPECT_TRUE(same_records(shown, last));
    EXPECT_EQ(time_step, 0.3);
}

TEST(Handoff, TakeExchangesStorageWithoutCopying)
{
    handoff_state handoff;
    handoff.hand_off(frame_of(50, 1.0), 0.1);
    tm_message_list shown;
    double time_step = 0.0;
    const allocation_failure_scope no_memory;
    handoff.take_latest(shown, time_step);  // would throw if it allocated
    EXPECT_EQ(shown.size(), 50u);
}

TEST(HandoffMemory, FailedCopyLeavesTheStateAsItWas)
{
    handoff_state handoff;
    const tm_message_list small = frame_of(1, 1.0);
    const tm_message_list large = frame_of(1000, 2.0);
    handoff.hand_off(small, 0.1);
    {
        const allocation_failure_scope no_memory;
        EXPECT_THROW(handoff.hand_off(large, 0.2), std::bad_alloc);
    }
    tm_message_list shown;
    double time_step = 0.0;
    handoff.take_latest(shown, time_step);
    EXPECT_TRUE(same_records(shown, small));
    EXPECT_EQ(time_step, 0.1);
}

TEST(HandoffMemory, FrameThatFitsTheStorageNeedsNoMemory)
{
    handoff_state handoff;
    handoff.hand_off(frame_of(8, 1.0), 0.1);
    const tm_message_list smaller = frame_of(5, 2.0);
    {
        const allocation_failure_scope no_memory;
        EXPECT_NO_THROW(handoff.hand_off(smaller, 0.2));
    }
    tm_message_list shown;
    double time_step = 0.0;
    handoff.take_latest(shown, time_step);
    EXPECT_TRUE(same_records(shown, smaller));
    EXPECT_EQ(time_step, 0.2);
}

TEST(HandoffThreads, EveryTakenFrameIsWholeAndMatchesItsTimeStep)
{
    // Frame k holds k records, each carrying k, and has time step k: a torn
    // hand-off would show a mismatch.
    handoff_state handoff;
    std::atomic<bool> done{false};
    std::thread display([&] {
        tm_message_list shown;
        double time_step = 0.0;
        while (!done.load()) {
            handoff.take_latest(shown, time_step);
            if (shown.empty()) continue;
            ASSERT_EQ(static_cast<double>(shown.size()), time_step);
            for (const tm_external_message& m : shown) ASSERT_EQ(m.GetDouble(), time_step);
        }
    });
    tm_message_list frame;
    for (int k = 1; k <= 20000; ++k) {
        const double count = static_cast<double>(k % 40 + 1);
        frame.assign(static_cast<std::size_t>(count), simulation_time(count));
        handoff.hand_off(frame, count);
    }
    done.store(true);
    display.join();
}

}  // namespace
