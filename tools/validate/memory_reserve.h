// Memory the validator keeps aside from its start for its report: when an
// allocation of its own fails (the machine is short of memory), the reserve
// is given back and the allocation tried again, so that the run can still
// finish and write every check's result. The program's new-handler while
// it lives.
#pragma once

#include <cstddef>

namespace validate {

class memory_reserve {
public:
    explicit memory_reserve(std::size_t bytes) noexcept;
    ~memory_reserve();
    memory_reserve(const memory_reserve&) = delete;
    memory_reserve& operator=(const memory_reserve&) = delete;

    // Whether an allocation failed and the reserve was given back: the run
    // should start nothing more and finish its report.
    static bool given_back() noexcept;

private:
    static void on_failed_allocation();
};

// A run's report takes well under this: some kilobytes a check.
inline constexpr std::size_t report_reserve_bytes = std::size_t{8} * 1024 * 1024;

}  // namespace validate
