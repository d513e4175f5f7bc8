// The thread of a background_worker and the signal that wakes it. On Windows
// (win32/worker_thread.cpp) a thread that holds a reference on the module its
// code is in, from its start until its very end, and an event; elsewhere
// (worker_thread.cpp) a std::thread and a condition variable, so that a
// plug-in's unit test runs the same worker natively.
#pragma once

#if !defined(_WIN32)
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace background_worker_detail {

class worker_thread {
public:
    worker_thread() = default;
    worker_thread(const worker_thread&) = delete;
    worker_thread& operator=(const worker_thread&) = delete;
    // Closes what is left without waiting for anything: call join() first.
    ~worker_thread();

    // Runs run(context) on a new thread. False when none could be started;
    // then nothing runs.
    bool start(void (*run)(void*), void* context) noexcept;
    // Ends the thread's current or next sleep() at once.
    void wake() noexcept;
    // On the thread: waits until woken, or for `milliseconds` at most.
    void sleep(unsigned milliseconds) noexcept;
    // Waits until the thread has ended; returns at once when none runs.
    void join() noexcept;
    // Whether a thread was started, has not been joined, and has not ended
    // (the system ends a process's other threads when it exits).
    bool running() const noexcept;

private:
#if defined(_WIN32)
    static unsigned long __stdcall thread_main(void* self) noexcept;

    void* thread_ = nullptr;  // HANDLE
    void* wake_ = nullptr;  // HANDLE of an auto-reset event
    void* module_ = nullptr;  // HMODULE, referenced while the thread runs
    void (*run_)(void*) = nullptr;
    void* context_ = nullptr;
#else
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable woken_;
    bool wake_ = false;
#endif
};

}  // namespace background_worker_detail
