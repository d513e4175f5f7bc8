// How much memory the checks may take: all that run side by side at most
// half of what the machine has free when the run starts, and never more
// than a few GiB, each check's process its share of that, so that a
// plug-in that takes memory without bound is stopped in its own check and
// the machine stays usable for other work (other validators among it). The
// number of checks side by side is limited by memory as well as by count.
#pragma once

#include <cstddef>
#include <cstdint>

namespace validate {

inline constexpr std::uint64_t mebibyte = std::uint64_t{1024} * 1024;
// What a check's process may take beyond what it had when it began: never
// less than a plug-in with large buffers needs, never more than any sound
// plug-in does.
inline constexpr std::uint64_t smallest_child_limit = 256 * mebibyte;
inline constexpr std::uint64_t largest_child_limit = 1024 * mebibyte;
// What all checks side by side may take at most.
inline constexpr std::uint64_t largest_total = 3072 * mebibyte;

struct memory_plan {
    std::size_t lanes = 1;  // checks side by side
    std::uint64_t child_limit = 0;  // bytes a check's process may take beyond what it had when it began
};

// The plan for a machine with `available` bytes free and `lanes` checks
// side by side by count: half of what is free, at most the largest total,
// shared among the lanes, each share within the smallest and the largest
// limit, and fewer lanes (at least one) when that does not hold that many
// shares.
memory_plan plan_memory(std::uint64_t available, std::size_t lanes) noexcept;

// Whether one more check may start beside `running` others while the
// machine has `available` bytes free: always when none runs; otherwise
// when what is free holds another check's share. A machine short of memory
// runs its checks one at a time.
bool room_for_another(std::uint64_t available, std::size_t running, const memory_plan& plan) noexcept;

}  // namespace validate
