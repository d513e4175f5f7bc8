#include "tools/validate/memory_reserve.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace validate {

namespace {

std::atomic<void*> reserve{nullptr};
std::atomic<bool> released{false};
std::new_handler previous = nullptr;

}  // namespace

memory_reserve::memory_reserve(std::size_t bytes) noexcept
{
    reserve = std::malloc(bytes);
    released = false;
    previous = std::set_new_handler(on_failed_allocation);
}

memory_reserve::~memory_reserve()
{
    std::set_new_handler(previous);
    std::free(reserve.exchange(nullptr));
}

bool memory_reserve::given_back() noexcept
{
    return released;
}

void memory_reserve::on_failed_allocation()
{
    void* const kept = reserve.exchange(nullptr);
    released = true;
    if (kept != nullptr) {
        std::free(kept);  // the allocation is tried again
        return;
    }
    // Nothing left to give: the allocation fails, or the handler before
    // this one decides.
    std::set_new_handler(previous);
    if (previous == nullptr) throw std::bad_alloc();
}

}  // namespace validate
