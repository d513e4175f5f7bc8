#include "tools/validate/memory_plan.h"

#include <algorithm>

namespace validate {

memory_plan plan_memory(std::uint64_t available, std::size_t lanes) noexcept
{
    lanes = std::max<std::size_t>(lanes, 1);
    const std::uint64_t total = std::min(available / 2, largest_total);
    memory_plan plan;
    plan.child_limit = std::clamp<std::uint64_t>(total / lanes, smallest_child_limit, largest_child_limit);
    plan.lanes = std::clamp<std::size_t>(static_cast<std::size_t>(total / plan.child_limit), 1, lanes);
    return plan;
}

bool room_for_another(std::uint64_t available, std::size_t running, const memory_plan& plan) noexcept
{
    return running == 0 || available >= plan.child_limit;
}

}  // namespace validate
