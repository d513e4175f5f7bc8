// How much memory the checks may take side by side, and the reserve that
// keeps the report writable when the validator's own allocations fail.
#include <gtest/gtest.h>

#include <new>

#include "tools/validate/memory_plan.h"
#include "tools/validate/memory_reserve.h"

using namespace validate;

constexpr std::uint64_t gibibyte = 1024 * mebibyte;

TEST(MemoryPlan, ChecksShareHalfOfWhatIsFreeWithinTheLimits)
{
    // A machine with plenty free: every lane, the largest total shared.
    memory_plan plan = plan_memory(20 * gibibyte, 6);
    EXPECT_EQ(plan.lanes, 6u);
    EXPECT_EQ(plan.child_limit, largest_total / 6);
    // Few lanes: each check at most the largest share.
    plan = plan_memory(20 * gibibyte, 2);
    EXPECT_EQ(plan.lanes, 2u);
    EXPECT_EQ(plan.child_limit, largest_child_limit);
    // 3 GiB free: half of it in six shares of 256 MiB.
    plan = plan_memory(3 * gibibyte, 6);
    EXPECT_EQ(plan.lanes, 6u);
    EXPECT_EQ(plan.child_limit, smallest_child_limit);
    // 1 GiB free: two checks of the smallest share fill half of it.
    plan = plan_memory(gibibyte, 6);
    EXPECT_EQ(plan.lanes, 2u);
    EXPECT_EQ(plan.child_limit, smallest_child_limit);
    // Short of memory: one check at a time, still with a share a sound plug-in fits in.
    plan = plan_memory(100 * mebibyte, 6);
    EXPECT_EQ(plan.lanes, 1u);
    EXPECT_EQ(plan.child_limit, smallest_child_limit);
    EXPECT_EQ(plan_memory(0, 0).lanes, 1u);

    // Another check starts only when what is free holds its share; the first always.
    plan = plan_memory(4 * gibibyte, 4);
    EXPECT_TRUE(room_for_another(0, 0, plan));
    EXPECT_FALSE(room_for_another(plan.child_limit - 1, 1, plan));
    EXPECT_TRUE(room_for_another(plan.child_limit, 3, plan));
}

TEST(MemoryReserve, AFailedAllocationGetsTheReserveOnceThenFails)
{
    const std::new_handler before = std::get_new_handler();
    {
        memory_reserve reserve(std::size_t{1024} * 1024);
        EXPECT_FALSE(memory_reserve::given_back());
        const std::new_handler handler = std::get_new_handler();
        ASSERT_NE(handler, nullptr);
        ASSERT_NE(handler, before);
        // What operator new does when an allocation fails: call the handler,
        // which gives the reserve back for the allocation to be tried again.
        EXPECT_NO_THROW(handler());
        EXPECT_TRUE(memory_reserve::given_back());
        // With nothing left to give, the next failure is the program's.
        EXPECT_THROW(std::get_new_handler()(), std::bad_alloc);
        EXPECT_EQ(std::get_new_handler(), before);
    }
    EXPECT_EQ(std::get_new_handler(), before);
}
