// The verdict on a check from how its child process ended, and the words
// for exit codes.
#include <gtest/gtest.h>

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
    ending.reported = reported(outcome::passed, "fine");
    EXPECT_EQ(judge_child(ending).summary, "fine");

    ending.exit_code = 3;  // the check finished, the process did not end well
    check_result at_exit = judge_child(ending);
    EXPECT_EQ(at_exit.result, outcome::failed);
    EXPECT_EQ(at_exit.kind, failure_kind::crash);
    EXPECT_EQ(at_exit.call, "process exit");
    EXPECT_NE(at_exit.summary.find("abort() (exit code 3)"), std::string::npos);

    check_result fault = reported(outcome::failed, "access violation at p.dll+0x10");
    fault.kind = failure_kind::crash;
    ending.fault = fault;
    ending.exit_code = 0xC0000005;
    EXPECT_EQ(judge_child(ending).summary, fault.summary);
}

TEST(ChildVerdict, HangsAndSilentEndsNameWhereTheCheckWas)
{
    child_ending hang;
    hang.killed = true;
    hang.limit_seconds = 10;
    hang.call = "Shutdown";
    hang.frame = 61;
    const check_result in_call = judge_child(hang);
    EXPECT_EQ(in_call.kind, failure_kind::hang);
    EXPECT_EQ(in_call.summary, "Shutdown did not return within 10 s");
    EXPECT_EQ(in_call.call, "Shutdown");
    EXPECT_EQ(in_call.frame, 61u);

    hang.call.clear();
    hang.limit_seconds = 180;
    EXPECT_EQ(judge_child(hang).summary, "the check did not finish within 180 s");

    child_ending silent;  // ended without a word: e.g. a fast fail
    silent.exit_code = 0xC0000409;
    silent.call = "Update";
    silent.frame = 7;
    const check_result died = judge_child(silent);
    EXPECT_EQ(died.kind, failure_kind::crash);
    EXPECT_EQ(died.call, "Update");
    EXPECT_EQ(died.frame, 7u);
    EXPECT_NE(died.summary.find("0xC0000409"), std::string::npos);
}

TEST(ChildVerdict, AnExpectedExitCodeMustBeTheOneTheProcessEndsWith)
{
    child_ending exit;
    exit.reported = reported(outcome::passed, "kept");
    exit.expected_exit_code = 57;
    exit.exit_code = 57;
    EXPECT_EQ(judge_child(exit).result, outcome::passed);
    exit.exit_code = 3;
    const check_result lost = judge_child(exit);
    EXPECT_EQ(lost.kind, failure_kind::exit_code);
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
    EXPECT_TRUE(is_cpp_exception(0x20474343));
    EXPECT_FALSE(is_cpp_exception(0xC0000005));
}
