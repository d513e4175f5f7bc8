// The process state a plug-in must leave as it found it, compared and put
// into words.
#include <gtest/gtest.h>

#include "tools/validate/process_state.h"

using namespace validate;

TEST(ProcessState, EachChangeIsNamedWithItsScope)
{
    process_state before;
    before.mxcsr = 0x1F80;
    before.x87_control = 0x027F;
    before.current_directory = "C:\\work";
    before.crt_locale = "C";
    before.signal_handlers[1] = 0x1000;
    EXPECT_TRUE(state_changes(before, before).empty());

    process_state after = before;
    after.mxcsr = 0x9FC0;                                                    // flush-to-zero, denormals-are-zero
    after.x87_control = 0x0E7F;                                              // round toward zero
    after.current_directory = "C:\\plugin";
    after.crt_locale = "German_Germany.1252";
    after.signal_handlers[1] = 0x2000;
    const std::vector<state_change> changes = state_changes(before, after);
    ASSERT_EQ(changes.size(), 5u);
    EXPECT_EQ(changes[0].scope, state_scope::host_thread);
    EXPECT_EQ(changes[0].what, "MXCSR 0x1F80 became 0x9FC0 (round to nearest, flush-to-zero, denormals-are-zero, "
                               "exceptions masked: all)");
    EXPECT_EQ(changes[1].scope, state_scope::host_thread);
    EXPECT_EQ(changes[1].what, "the x87 control word 0x027F became 0x0E7F (53-bit precision, round toward zero, "
                               "exceptions masked: all)");
    EXPECT_EQ(changes[2].scope, state_scope::process);
    EXPECT_EQ(changes[2].what, "the current directory \"C:\\work\" became \"C:\\plugin\"");
    EXPECT_EQ(changes[3].what, "the C runtime's locale \"C\" became \"German_Germany.1252\"");
    EXPECT_EQ(changes[4].what, "the C runtime's SIGINT handler 0x1000 became 0x2000");

    EXPECT_EQ(describe_mxcsr(0x1F80 & ~(1u << 9)), "round to nearest, exceptions masked: invalid denormal "
                                                   "overflow underflow precision");
}

TEST(ProcessState, WhatStillPointsIntoAnUnloadedRange)
{
    process_state state;
    state.exception_filter = 0x7000'1234;
    state.signal_handlers[0] = 0x7000'2000;
    state.signal_handlers[3] = 0x6000'0000;
    EXPECT_EQ(pointers_into(state, 0x7000'0000, 0x7001'0000),
              (std::vector<std::string>{"the unhandled-exception filter", "the C runtime's SIGABRT handler"}));
    EXPECT_TRUE(pointers_into(state, 0x7001'0000, 0x7002'0000).empty());
}
