#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <new>
#include <thread>

#include "display/handoff_state.h"
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
    // Three lists take turns: the spare, the hand-off list and the shown
    // one. Once each has held a frame of 8, smaller frames need no memory,
    // whether the display takes them or not.
    handoff_state handoff;
    tm_message_list shown;
    double time_step = 0.0;
    for (int warm_up = 0; warm_up < 3; ++warm_up) {
        handoff.hand_off(frame_of(8, 1.0), 0.1);
        handoff.take_latest(shown, time_step);
    }
    const tm_message_list smaller = frame_of(5, 2.0);
    const std::size_t failures = failed_allocations();
    {
        const allocation_failure_scope no_memory;
        EXPECT_NO_THROW(handoff.hand_off(smaller, 0.15));
        EXPECT_NO_THROW(handoff.hand_off(smaller, 0.2));
        handoff.take_latest(shown, time_step);
    }
    EXPECT_EQ(failed_allocations(), failures);
    EXPECT_TRUE(same_records(shown, smaller));
    EXPECT_EQ(time_step, 0.2);
}

// A mutex that marks the thread holding it: any use of the heap while it is
// held is counted (tests/support/failing_new).
class heap_watching_mutex {
public:
    void lock()
    {
        mutex_.lock();
        forbid_heap_on_this_thread(true);
    }
    void unlock()
    {
        forbid_heap_on_this_thread(false);
        mutex_.unlock();
    }

private:
    std::mutex mutex_;
};

TEST(HandoffMemory, TheWatchSeesHeapUseUnderTheLock)
{
    const std::size_t before = forbidden_heap_calls();
    heap_watching_mutex lock;
    void* volatile block = nullptr;  // volatile: the compiler may not drop the calls
    {
        const std::lock_guard<heap_watching_mutex> guard(lock);
        block = ::operator new(16);
        ::operator delete(block);
    }
    block = ::operator new(16);
    ::operator delete(block);
    EXPECT_EQ(forbidden_heap_calls(), before + 2);
}

TEST(HandoffMemory, NothingIsAllocatedOrFreedWhileTheLockIsHeld)
{
    // Frames that grow past every size before, shrink and grow again, taken
    // by a display thread at its own pace, with memory running out now and
    // then: the heap is used only outside the lock.
    const std::size_t before = forbidden_heap_calls();
    const std::size_t failures = failed_allocations();
    basic_handoff_state<heap_watching_mutex> handoff;
    std::atomic<bool> done{false};
    std::thread display([&] {
        tm_message_list shown;
        double time_step = 0.0;
        while (!done.load()) handoff.take_latest(shown, time_step);
        handoff.take_latest(shown, time_step);
    });
    tm_message_list frame;
    for (int k = 1; k <= 400; ++k) {
        const std::size_t count = static_cast<std::size_t>(k % 2 == 0 ? k : 401 - k);
        frame.assign(count, simulation_time(static_cast<double>(k)));
        handoff.hand_off(frame, static_cast<double>(k));
        if (k % 50 == 0) {
            // Larger than any frame before: the copy needs memory, and finds none.
            frame.assign(500 + static_cast<std::size_t>(k), simulation_time(0.0));
            const allocation_failure_scope no_memory;
            EXPECT_THROW(handoff.hand_off(frame, 0.0), std::bad_alloc);
        }
    }
    done.store(true);
    display.join();
    EXPECT_GE(failed_allocations(), failures + 8);
    EXPECT_EQ(forbidden_heap_calls(), before);
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
