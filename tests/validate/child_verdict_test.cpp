// The verdict on a check from how its child process ended, and the words
// for exit codes.
#include <gtest/gtest.h>

#include "tools/common/exception_names.h"
#include "tools/validate/child_verdict.h"

using namespace validate;

namespace {

check_result reported(outcome result, std::string summary)
{
    check_result r;
    r.result = result;
    r.summary = std::move(summary);
    return r;
}

}  // namespace

TEST(ChildVerdict, TheFirstFaultDecidesOverWhatTheCheckReported)
{
    child_ending ending;
    ending.started = true;
    ending.reported = reported(outcome::passed, "fine");
    EXPECT_EQ(judge_child(ending).summary, "fine");

    ending.exit_code = 3;  // the check finished, the process did not end well
    check_result at_exit = judge_child(ending);
    EXPECT_EQ(at_exit.result, outcome::failed);
    EXPECT_EQ(at_exit.kind, fault_kind::crash);
    EXPECT_EQ(at_exit.call, plugin_call::process_exit);
    EXPECT_NE(at_exit.summary.find("abort() (exit code 3)"), std::string::npos);

    check_result fault = reported(outcome::failed, "access violation at p.dll+0x10");
    fault.kind = fault_kind::crash;
    ending.fault = fault;
    ending.exit_code = 0xC0000005;
    EXPECT_EQ(judge_child(ending).summary, fault.summary);
}

TEST(ChildVerdict, AChildEndedByTheValidatorIsJudgedByWhatEndedIt)
{
    child_ending hang;
    hang.started = true;
    hang.ender = ended_by::call_limit;
    hang.limit_seconds = 10;
    hang.call = plugin_call::shutdown;
    hang.frame = 61;
    const check_result in_call = judge_child(hang);
    EXPECT_EQ(in_call.kind, fault_kind::hang);
    EXPECT_EQ(in_call.summary, "Shutdown did not return within 10 s");
    EXPECT_EQ(in_call.call, plugin_call::shutdown);
    EXPECT_EQ(in_call.frame, 61u);

    // Every call returned, but slowly: the slowest is named.
    hang.ender = ended_by::check_limit;
    hang.limit_seconds = 60;
    hang.slowest_call = plugin_call::init;
    hang.slowest_call_seconds = 3;
    const check_result slow = judge_child(hang);
    EXPECT_EQ(slow.kind, fault_kind::too_slow);
    EXPECT_EQ(slow.summary, "the check did not finish within 60 s: Init took up to 3 s");
    EXPECT_EQ(slow.call, plugin_call::init);
    hang.slowest_call_seconds = 0.01;  // fast calls: the check itself did not end
    EXPECT_EQ(judge_child(hang).kind, fault_kind::hang);

    // The run's limit is not the check's fault.
    hang.ender = ended_by::run_limit;
    hang.limit_seconds = 170;
    const check_result stopped = judge_child(hang);
    EXPECT_EQ(stopped.result, outcome::not_run);
    EXPECT_EQ(stopped.summary, "not run in full: the run reached its limit of 170 s");

    // A child that would not end is said to be left running.
    hang.left_running = true;
    hang.process_id = 4242;
    EXPECT_NE(judge_child(hang).notes.back().find("(id 4242) did not end"), std::string::npos);
}

TEST(ChildVerdict, SilentEndsNameWhatEndedThemAndWhere)
{
    child_ending silent;  // ended without a word: e.g. a fast fail
    silent.started = true;
    silent.exit_code = 0xC0000409;
    silent.call = plugin_call::update;
    silent.frame = 7;
    const check_result died = judge_child(silent);
    EXPECT_EQ(died.kind, fault_kind::crash);
    EXPECT_EQ(died.call, plugin_call::update);
    EXPECT_EQ(died.frame, 7u);
    EXPECT_NE(died.summary.find("0xC0000409"), std::string::npos);

    silent.exit_code = 3;
    EXPECT_EQ(judge_child(silent).kind, fault_kind::abort_called);
    silent.exit_code = 42;  // in a call, without an exception: the plug-in ended the process
    const check_result ended = judge_child(silent);
    EXPECT_EQ(ended.kind, fault_kind::process_ended);
    EXPECT_EQ(ended.summary,
              "the process ended with exit code 42 in Update, without an exception: the plug-in ended it");

    // Before the check began, an ending is the validator's own failure.
    silent.started = false;
    const check_result own = judge_child(silent);
    EXPECT_EQ(own.result, outcome::error);
}

TEST(ChildVerdict, AnExpectedExitCodeMustBeTheOneTheProcessEndsWith)
{
    child_ending exit;
    exit.started = true;
    exit.reported = reported(outcome::passed, "kept");
    exit.expected_exit_code = 57;
    exit.exit_code = 57;
    EXPECT_EQ(judge_child(exit).result, outcome::passed);
    exit.exit_code = 3;
    const check_result lost = judge_child(exit);
    EXPECT_EQ(lost.kind, fault_kind::exit_code);
    EXPECT_NE(lost.summary.find("instead of its own exit code 57"), std::string::npos);
}

TEST(ChildVerdict, ExitCodesInWords)
{
    EXPECT_EQ(describe_exit_code(0xC0000005), "access violation (0xC0000005)");
    EXPECT_EQ(describe_exit_code(0x20474343), "C++ exception (GCC) (0x20474343)");
    EXPECT_EQ(describe_exit_code(0xE06D7363), "C++ exception (Microsoft C++) (0xE06D7363)");
    EXPECT_EQ(describe_exit_code(3), "abort() (exit code 3)");
    EXPECT_EQ(describe_exit_code(1), "exit code 1");
    EXPECT_EQ(describe_exit_code(0xC0001234), "exception 0xC0001234");
    EXPECT_TRUE(tools::is_cpp_exception(0x20474343));
    EXPECT_FALSE(tools::is_cpp_exception(0xC0000005));
}
