// The order in which checks start: side by side up to the lanes, the checks
// that measure time alone, the plug-in's first load watched by one check, and
// the checks that a plug-in that cannot be loaded or unloaded leaves without
// a chance decided at once.
#include <gtest/gtest.h>

#include "tools/validate/check_schedule.h"

using namespace validate;

namespace {

std::vector<const check_info*> checks(std::initializer_list<const char*> names)
{
    std::vector<const check_info*> list;
    for (const char* name : names) list.push_back(find_check(name));
    return list;
}

check_result result(outcome what, fault_kind kind = fault_kind::none, plugin_call call = plugin_call::none)
{
    check_result r;
    r.result = what;
    r.kind = kind;
    r.call = call;
    return r;
}

// Ends a run with one result for each of its checks.
void end(check_schedule& schedule, const std::vector<const check_info*>& run, const check_result& r)
{
    schedule.finished(run, std::vector<check_result>(run.size(), r));
}

}  // namespace

TEST(CheckSchedule, RunsSideBySideButATimingCheckAlone)
{
    check_schedule schedule(checks({"file.pe_format", "lifecycle.usual_order", "stream.sizes", "timing.update"}), 4);
    const auto first = schedule.next();
    const auto second = schedule.next();
    ASSERT_EQ(first, checks({"file.pe_format"}));
    ASSERT_EQ(second, checks({"lifecycle.usual_order"}));
    EXPECT_TRUE(schedule.next().empty()) << "a second loading check waits until the first load and unload are seen";
    schedule.load_and_unload_seen();
    const auto third = schedule.next();
    EXPECT_EQ(third, checks({"stream.sizes"}));
    EXPECT_TRUE(schedule.next().empty()) << "timing.update waits for the others to end";
    end(schedule, first, result(outcome::passed));
    end(schedule, second, result(outcome::passed));
    EXPECT_TRUE(schedule.next().empty());
    end(schedule, third, result(outcome::passed));
    const auto timing = schedule.next();
    EXPECT_EQ(timing, checks({"timing.update"}));
    EXPECT_FALSE(schedule.done());
    end(schedule, timing, result(outcome::passed));
    EXPECT_TRUE(schedule.done());
    EXPECT_TRUE(schedule.take_not_run().empty());
}

TEST(CheckSchedule, ChecksThatShareABodyRunTogetherInOneLane)
{
    check_schedule schedule(checks({"timing.init", "timing.update", "timing.shutdown"}), 1);
    const auto run = schedule.next();
    EXPECT_EQ(run, checks({"timing.init", "timing.shutdown"}));
    EXPECT_TRUE(schedule.next().empty());
    schedule.finished(run,
                      {result(outcome::passed), result(outcome::failed, fault_kind::too_slow, plugin_call::shutdown)});
    EXPECT_EQ(schedule.next(), checks({"timing.update"}));
}

TEST(CheckSchedule, APlugInThatDoesNotLoadLeavesTheRestNotRunAtOnce)
{
    check_schedule schedule(checks({"file.load", "file.exports", "lifecycle.reload", "stream.random"}), 4);
    const auto load = schedule.next();
    EXPECT_EQ(schedule.next(), checks({"file.exports"}));  // needs no load: runs beside it
    EXPECT_TRUE(schedule.next().empty());
    end(schedule, load, result(outcome::failed, fault_kind::hang, plugin_call::load_library));
    const auto not_run = schedule.take_not_run();
    ASSERT_EQ(not_run.size(), 2u);
    EXPECT_EQ(not_run[0].first->name, "lifecycle.reload");
    EXPECT_EQ(not_run[1].first->name, "stream.random");
    EXPECT_EQ(not_run[0].second.result, outcome::not_run);
    EXPECT_EQ(not_run[0].second.summary, "not run: LoadLibrary does not return, as file.load showed");
    EXPECT_TRUE(schedule.next().empty());
}

TEST(CheckSchedule, AnUnloadThatHangsLeavesOnlyTheChecksThatNeedIt)
{
    check_schedule schedule(checks({"file.load", "lifecycle.usual_order", "stream.sizes", "lifecycle.reload"}), 4);
    const auto load = schedule.next();
    EXPECT_FALSE(schedule.unload_fails());
    end(schedule, load, result(outcome::failed, fault_kind::hang, plugin_call::free_library));
    EXPECT_TRUE(schedule.unload_fails());
    const auto not_run = schedule.take_not_run();
    ASSERT_EQ(not_run.size(), 2u);
    EXPECT_EQ(not_run[0].first->name, "lifecycle.usual_order");
    EXPECT_EQ(not_run[1].first->name, "lifecycle.reload");
    EXPECT_EQ(not_run[1].second.call, plugin_call::free_library);
    EXPECT_EQ(schedule.next(), checks({"stream.sizes"}));  // the load worked: it runs, leaving the plug-in loaded

    // A failure of another kind in FreeLibrary is that check's alone.
    check_schedule other(checks({"file.load", "lifecycle.reload"}), 4);
    end(other, other.next(), result(outcome::failed, fault_kind::state_changed, plugin_call::free_library));
    EXPECT_EQ(other.next(), checks({"lifecycle.reload"}));
}

TEST(CheckSchedule, GivingUpDecidesWhatHasNotStarted)
{
    check_schedule schedule(checks({"file.load", "stream.sizes"}), 4);
    const auto load = schedule.next();
    schedule.give_up("the run reached its limit of 170 s");
    const auto not_run = schedule.take_not_run();
    ASSERT_EQ(not_run.size(), 1u);
    EXPECT_EQ(not_run[0].second.summary, "not run: the run reached its limit of 170 s");
    EXPECT_FALSE(schedule.done());
    end(schedule, load, result(outcome::passed));
    EXPECT_TRUE(schedule.done());
}
