// background_worker: work off the host's thread.
//
// The host waits for Update on every frame, so Update must never write a
// file, talk to a device, compute for long or wait for anything. A
// background_worker takes such work to a thread of the plug-in's own: Update
// hands it an item and returns; the worker's thread handles the item a moment
// later.
//
//     struct sample { double time = 0.0; double altitude = 0.0; };
//     background_worker<sample> writer;
//
//     Init:     return writer.start([](sample& s) { /* on the worker's thread: write it */ });
//     Update:   writer.post([&](sample& s) { s.time = time; s.altitude = altitude; });
//     Shutdown: writer.stop();
//
// - Bounded, and never waited for: it holds at most `capacity` items. When
//   the worker has fallen that far behind, post() drops the item, counts it
//   (dropped()) and returns false at once.
// - No allocation per frame: the items are made at start() and reused, and
//   post() fills one in place. An item that holds a container keeps its
//   storage from one use to the next; size it once with start()'s `prepare`
//   (a std::vector's reserve) and post() allocates nothing at all.
// - Its thread is started by start() (in Init) and joined by stop() (in
//   Shutdown), after it has handled every item posted before stop(). A
//   second start() while it runs starts nothing; stop() without start(), or
//   twice, does nothing; post() before start() or after stop() refuses the
//   item (not counted as dropped). Each start() begins with an empty queue and
//   counts of 0.
// - Unload-safe: on Windows the thread holds a reference on the plug-in's
//   DLL, and its last act lets go of it (GetModuleHandleExW with
//   GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, FreeLibraryAndExitThread). A host
//   that unloads the DLL without Shutdown leaves it loaded, the thread
//   waiting, instead of a thread running code that is gone. A process that
//   exits without Shutdown has ended the thread itself; the destructor then
//   waits for nothing.
// - Natively (a unit test on Linux) the thread is a std::thread: the same
//   worker, the same code, tested where the plug-in's logic is.
// - The handler runs on the worker's thread, one item at a time, in the order
//   posted; an exception it throws is caught and counted (failed()). The
//   fill function of post() runs on the caller's thread; an exception from it
//   drops the item (counted).
// - One thread at a time posts, starts and stops (the host calls one entry
//   point at a time); the counts may be read from any thread.
//
// Wake-ups: the worker looks for items every `period` (10 ms), and post()
// wakes it at once when the queue is half full. Update's cost is a copy into
// the item and two atomic operations; it makes no system call until the
// queue is half full.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

#include "worker_thread.h"

template <class Item>
class background_worker {
public:
    using handler_type = std::function<void(Item&)>;
    using prepare_type = std::function<void(Item&)>;

    struct settings {
        std::size_t capacity = 256;  // items queued at most
        std::chrono::milliseconds period{10};  // the worker looks for items this often (1 ms to 1 min)
    };

    background_worker() = default;
    background_worker(const background_worker&) = delete;
    background_worker& operator=(const background_worker&) = delete;
    // Stops a worker that is still running (handling what is queued), unless
    // its thread has ended already because the process is exiting.
    ~background_worker()
    {
        if (running_ && thread_.running()) stop();
    }

    // Starts the worker's thread, which calls `handler` with each item posted.
    // `prepare`, when given, is called once with each item before the thread
    // starts (to reserve storage). True when the thread runs (or already
    // ran); false when it could not start (no memory, no thread, a capacity
    // of 0, a period out of range), and then nothing runs.
    bool start(handler_type handler, settings choice = settings{},
               const prepare_type& prepare = prepare_type{}) noexcept
    {
        if (running_) return true;
        if (!handler || choice.capacity == 0 || choice.period < std::chrono::milliseconds(1) ||
            choice.period > std::chrono::minutes(1))
            return false;
        try {
            if (items_.size() != choice.capacity) {
                std::vector<Item> fresh(choice.capacity);
                items_.swap(fresh);
            }
            if (prepare)
                for (Item& item : items_) prepare(item);
            handler_ = std::move(handler);
        } catch (...) {
            return false;
        }
        capacity_ = choice.capacity;
        period_ms_ = static_cast<unsigned>(choice.period.count());
        wake_at_ = capacity_ / 2 > 0 ? capacity_ / 2 : 1;
        head_.store(0, std::memory_order_relaxed);
        tail_.store(0, std::memory_order_relaxed);
        handled_.store(0, std::memory_order_relaxed);
        dropped_.store(0, std::memory_order_relaxed);
        failed_.store(0, std::memory_order_relaxed);
        stopping_.store(false, std::memory_order_relaxed);
        if (!thread_.start(&work, this)) {
            handler_ = nullptr;
            return false;
        }
        running_ = true;
        return true;
    }

    // Hands the worker an item: fill(item) writes it in place, on this
    // thread. False, at once, when the queue is full (the item is dropped
    // and counted), when fill throws (counted too), or when the worker is
    // not running.
    template <class Fill, class = std::enable_if_t<std::is_invocable_v<Fill&&, Item&>>>
    bool post(Fill&& fill) noexcept
    {
        if (!running_) return false;
        const std::size_t head = head_.load(std::memory_order_relaxed);
        const std::size_t queued = head - tail_.load(std::memory_order_acquire);
        if (queued >= capacity_) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        try {
            std::forward<Fill>(fill)(items_[head % capacity_]);
        } catch (...) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        head_.store(head + 1, std::memory_order_release);
        if (queued + 1 == wake_at_) thread_.wake();
        return true;
    }

    // post() of a copy of `item`.
    bool post(const Item& item) noexcept
    {
        return post([&item](Item& slot) { slot = item; });
    }

    // Lets the worker handle every item posted so far, then waits for its
    // thread to end. Does nothing when it is not running.
    void stop() noexcept
    {
        if (!running_) return;
        running_ = false;
        stopping_.store(true, std::memory_order_release);
        thread_.wake();
        thread_.join();
        handler_ = nullptr;
    }

    bool running() const noexcept { return running_; }
    std::size_t capacity() const noexcept { return capacity_; }
    // Items posted and not yet handled: how far behind the worker is.
    std::size_t queued() const noexcept
    {
        return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_acquire);
    }
    // Since the last start(): items handled (failed ones included), items
    // dropped by post(), handler calls that threw.
    std::uint64_t handled() const noexcept { return handled_.load(std::memory_order_relaxed); }
    std::uint64_t dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }
    std::uint64_t failed() const noexcept { return failed_.load(std::memory_order_relaxed); }

private:
    // The worker's thread: handles what is queued, sleeps, and after a stop
    // request handles what was queued before it and ends.
    static void work(void* self) noexcept
    {
        auto& worker = *static_cast<background_worker*>(self);
        for (;;) {
            const bool last_round = worker.stopping_.load(std::memory_order_acquire);
            worker.handle_queued();
            if (last_round) return;
            worker.thread_.sleep(worker.period_ms_);
        }
    }

    void handle_queued() noexcept
    {
        std::size_t tail = tail_.load(std::memory_order_relaxed);
        for (;;) {
            const std::size_t head = head_.load(std::memory_order_acquire);
            if (tail == head) return;
            for (; tail != head; ++tail) {
                try {
                    handler_(items_[tail % capacity_]);
                } catch (...) {
                    failed_.fetch_add(1, std::memory_order_relaxed);
                }
                handled_.fetch_add(1, std::memory_order_relaxed);
                tail_.store(tail + 1, std::memory_order_release);
            }
        }
    }

    std::vector<Item> items_;  // a ring: item i of the run is items_[i % capacity_]
    handler_type handler_;
    std::size_t capacity_ = 0;
    std::size_t wake_at_ = 1;
    unsigned period_ms_ = 10;
    bool running_ = false;  // touched by the posting thread only
    // Items posted (head_, written by post) and handled (tail_, written by
    // the worker) since start(); the queue holds head_ - tail_ of them.
    std::atomic<std::size_t> head_{0};
    std::atomic<std::size_t> tail_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> handled_{0};
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> failed_{0};
    background_worker_detail::worker_thread thread_;
};
