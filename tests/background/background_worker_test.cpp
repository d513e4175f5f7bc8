#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

#include <skarvel/shared/background/background_worker.h>

#include "tests/support/failing_new.h"

namespace {

using namespace std::chrono_literals;

// Holds the worker inside its handler until opened; says when it got there.
class gate {
public:
    void wait_inside()
    {
        inside_.store(true);
        while (!open_.load()) std::this_thread::sleep_for(1ms);
    }
    bool reached(std::chrono::milliseconds within = 5000ms) const
    {
        for (auto waited = 0ms; !inside_.load(); waited += 1ms) {
            if (waited >= within) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }
    void open() { open_.store(true); }

private:
    std::atomic<bool> inside_{false};
    std::atomic<bool> open_{false};
};

// Item 0 holds the worker at the gate; every item's value is kept in order.
struct held_worker {
    gate held;
    std::vector<int> seen;  // the worker's thread alone, until stop() returns
    background_worker<int> worker;

    bool start(std::size_t capacity)
    {
        seen.reserve(1000);
        return worker.start(
            [this](int& value) {
                if (value == 0) held.wait_inside();
                seen.push_back(value);
            },
            {capacity, 10ms});
    }
};

TEST(BackgroundWorker, StopHandlesEveryItemPostedBeforeItInOrder)
{
    held_worker w;
    ASSERT_TRUE(w.start(64));
    ASSERT_TRUE(w.worker.post(0));
    ASSERT_TRUE(w.held.reached());
    for (int i = 1; i < 50; ++i) ASSERT_TRUE(w.worker.post(i));
    w.held.open();
    w.worker.stop();  // at once: the 49 still queued are handled first

    ASSERT_EQ(w.seen.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(w.seen[i], i);
    EXPECT_EQ(w.worker.handled(), 50u);
    EXPECT_EQ(w.worker.dropped(), 0u);
    EXPECT_FALSE(w.worker.running());
    EXPECT_FALSE(w.worker.post(50)) << "a stopped worker takes nothing";
    EXPECT_EQ(w.worker.dropped(), 0u) << "and does not count that as a drop";
}

// The worker stands still inside its handler: the queue fills, and post goes
// on returning at once, dropping and counting what does not fit.
TEST(BackgroundWorker, FullQueueDropsAndCountsInsteadOfWaiting)
{
    held_worker w;
    ASSERT_TRUE(w.start(4));
    ASSERT_TRUE(w.worker.post(0));
    ASSERT_TRUE(w.held.reached());  // item 0 keeps its place while it is handled
    for (int i = 1; i < 4; ++i) EXPECT_TRUE(w.worker.post(i));
    const auto start = std::chrono::steady_clock::now();
    for (int i = 4; i < 1004; ++i) EXPECT_FALSE(w.worker.post(i));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(w.worker.dropped(), 1000u);
    // Generous, as the machine may be busy: a post that waited for the
    // worker would wait forever here.
    EXPECT_LT(took, 2s);

    w.held.open();
    w.worker.stop();
    EXPECT_EQ(w.seen, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(w.worker.handled(), 4u);
    EXPECT_EQ(w.worker.dropped(), 1000u);
}

struct frame_copy {
    double time_step = 0.0;
    std::vector<std::uint8_t> bytes;
};

// Once prepare has sized the items, a post is a copy into one of them: the
// posting thread neither allocates nor frees, however many frames it posts.
TEST(BackgroundWorker, PostAllocatesNothingOnceItemsArePrepared)
{
    std::atomic<std::uint64_t> bytes_seen{0};
    background_worker<frame_copy> worker;
    ASSERT_TRUE(worker.start([&](frame_copy& frame) { bytes_seen += frame.bytes.size(); }, {16, 1ms},
                             [](frame_copy& frame) { frame.bytes.reserve(4096); }));
    const std::vector<std::uint8_t> stream(3000, 0x5A);
    std::uint64_t posted = 0;
    const std::size_t before = forbidden_heap_calls();
    forbid_heap_on_this_thread(true);
    for (int i = 0; i < 5000; ++i) {
        if (worker.post([&](frame_copy& frame) {
                frame.time_step = 1.0 / 60.0;
                frame.bytes.assign(stream.begin(), stream.end());
            }))
            ++posted;
        if (i % 100 == 0) std::this_thread::sleep_for(2ms);  // the worker catches up now and then
    }
    forbid_heap_on_this_thread(false);
    EXPECT_EQ(forbidden_heap_calls() - before, 0u);
    worker.stop();
    EXPECT_GT(posted, 0u);
    EXPECT_EQ(posted + worker.dropped(), 5000u);
    EXPECT_EQ(worker.handled(), posted);
    EXPECT_EQ(bytes_seen.load(), posted * stream.size());
}

// Entry points called in the orders hosts get wrong, and code that throws.
TEST(BackgroundWorker, SurvivesWhatHostsAndHandlersGetWrong)
{
    std::atomic<int> sum{0};
    background_worker<int> worker;
    const auto add = [&](int& value) {
        if (value < 0) throw std::runtime_error("a handler's own fault");
        sum += value;
    };
    EXPECT_FALSE(worker.post(1)) << "before start";
    worker.stop();  // without start
    EXPECT_FALSE(worker.start(add, {0, 10ms})) << "no room for any item";
    EXPECT_FALSE(worker.start(add, {8, 0ms})) << "a worker that would never sleep";
    EXPECT_FALSE(worker.start(nullptr));
    {
        const allocation_failure_scope no_memory;
        EXPECT_FALSE(worker.start(add));
    }
    EXPECT_FALSE(worker.running());

    ASSERT_TRUE(worker.start(add, {8, 10ms}));
    EXPECT_TRUE(worker.start(add, {8, 10ms})) << "a second start starts nothing new";
    EXPECT_TRUE(worker.post(5));
    EXPECT_TRUE(worker.post(-1));
    EXPECT_FALSE(worker.post([](int&) { throw std::runtime_error("a fill's own fault"); }));
    EXPECT_TRUE(worker.post(7));
    worker.stop();
    worker.stop();
    EXPECT_EQ(sum.load(), 12);
    EXPECT_EQ(worker.handled(), 3u);
    EXPECT_EQ(worker.failed(), 1u);
    EXPECT_EQ(worker.dropped(), 1u);

    // A new run starts with an empty queue and fresh counts.
    ASSERT_TRUE(worker.start(add, {8, 10ms}));
    EXPECT_EQ(worker.handled() + worker.failed() + worker.dropped(), 0u);
    EXPECT_TRUE(worker.post(30));
    worker.stop();
    EXPECT_EQ(sum.load(), 42);
    EXPECT_EQ(worker.handled(), 1u);
}

TEST(BackgroundWorker, DestroyedWhileRunningHandlesWhatIsQueued)
{
    std::atomic<int> handled{0};
    {
        background_worker<int> worker;
        ASSERT_TRUE(worker.start([&](int&) { ++handled; }, {64, 50ms}));
        for (int i = 0; i < 20; ++i) ASSERT_TRUE(worker.post(i));
    }
    EXPECT_EQ(handled.load(), 20);
}

}  // namespace
