// Memory exhaustion on demand: while armed, the program's global operator new
// lets a given number of allocations through and then throws std::bad_alloc.
// And a watch on the heap: a thread can mark itself as one that must not use
// it for a while (holding a lock), and every use it makes then is counted.
#pragma once

#include <cstddef>

// Lets `successes` more allocations succeed, then fails every one after.
void fail_allocations_after(std::size_t successes) noexcept;
// Back to normal allocation.
void allow_allocations() noexcept;
// Allocations that failed since the program started.
std::size_t failed_allocations() noexcept;

// Fails allocations for one scope.
class allocation_failure_scope {
public:
    explicit allocation_failure_scope(std::size_t successes = 0) noexcept { fail_allocations_after(successes); }
    ~allocation_failure_scope() { allow_allocations(); }
    allocation_failure_scope(const allocation_failure_scope&) = delete;
    allocation_failure_scope& operator=(const allocation_failure_scope&) = delete;
};

// Marks this thread as one that must not allocate or free, or clears the
// mark. What it allocates or frees while marked is still served, and counted.
void forbid_heap_on_this_thread(bool forbidden) noexcept;
// Allocations and frees made on marked threads since the program started.
std::size_t forbidden_heap_calls() noexcept;
