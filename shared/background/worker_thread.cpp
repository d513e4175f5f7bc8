// The worker's thread where there is no Windows: a std::thread, woken
// through a condition variable. A native program's code never leaves it
// while it runs, so no module needs holding.
#include <skarvel/shared/background/worker_thread.h>

#include <chrono>
#include <system_error>

namespace background_worker_detail {

worker_thread::~worker_thread()
{
    // A thread never joined (a worker destroyed while running) is joined
    // here rather than ending the program through std::terminate.
    join();
}

bool worker_thread::start(void (*run)(void*), void* context) noexcept
{
    if (thread_.joinable()) return false;
    wake_ = false;
    try {
        thread_ = std::thread(run, context);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void worker_thread::wake() noexcept
{
    {
        const std::lock_guard<std::mutex> guard(lock_);
        wake_ = true;
    }
    woken_.notify_one();
}

void worker_thread::sleep(unsigned milliseconds) noexcept
{
    std::unique_lock<std::mutex> guard(lock_);
    woken_.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return wake_; });
    wake_ = false;
}

void worker_thread::join() noexcept
{
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool worker_thread::running() const noexcept
{
    return thread_.joinable();
}

}  // namespace background_worker_detail
