// Replaces the global allocation functions for the whole test program.
#include "tests/support/failing_new.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> armed{false};
std::atomic<std::size_t> allowed{0};
std::atomic<std::size_t> failures{0};
thread_local bool heap_forbidden = false;
std::atomic<std::size_t> forbidden_calls{0};

void note_heap_call() noexcept
{
    if (heap_forbidden) forbidden_calls.fetch_add(1);
}

bool may_allocate() noexcept
{
    note_heap_call();
    if (!armed.load()) return true;
    std::size_t left = allowed.load();
    while (left > 0)
        if (allowed.compare_exchange_weak(left, left - 1)) return true;
    failures.fetch_add(1);
    return false;
}

void release(void* block) noexcept
{
    if (block != nullptr) note_heap_call();
    std::free(block);
}

}  // namespace

void fail_allocations_after(std::size_t successes) noexcept
{
    allowed.store(successes);
    armed.store(true);
}

void allow_allocations() noexcept
{
    armed.store(false);
}

std::size_t failed_allocations() noexcept
{
    return failures.load();
}

void forbid_heap_on_this_thread(bool forbidden) noexcept
{
    heap_forbidden = forbidden;
}

std::size_t forbidden_heap_calls() noexcept
{
    return forbidden_calls.load();
}

void* operator new(std::size_t size)
{
    if (!may_allocate()) throw std::bad_alloc();
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (!may_allocate()) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}

void operator delete(void* block) noexcept
{
    release(block);
}
void operator delete[](void* block) noexcept
{
    release(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    release(block);
}
void operator delete[](void* block, std::size_t) noexcept
{
    release(block);
}
