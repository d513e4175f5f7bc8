// The process state a plug-in must leave as it found it, compared and put
// into words.
#include <gtest/gtest.h>

#include "tools/validate/process_state.h"

using namespace validate;
using namespace std::string_literals;

TEST(ProcessState, EachChangeIsNamedWithItsScope)
{
    process_state before;
    before.mxcsr = 0x1F80;
    before.x87_control = 0x027F;
    before.current_directory = "C:\\work";
    before.crt_locale = "C";
    before.signal_handlers[1] = 0x1000;
    EXPECT_TRUE(state_changes(before, before, before).empty());

    process_state after = before;
    after.mxcsr = 0x9FC0;  // flush-to-zero, denormals-are-zero
    after.x87_control = 0x0E7F;  // round toward zero
    after.current_directory = "C:\\plugin";
    after.crt_locale = "German_Germany.1252";
    after.signal_handlers[1] = 0x2000;
    const std::vector<state_change> changes = state_changes(before, after, before);
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

TEST(ProcessState, TheEnvironmentChangedOrRemovedIsAChangeAndANewVariableIsNot)
{
    process_state before;
    before.environment = "Path=C:\\Windows\0TEMP=C:\\Temp\0LANG=C\0"s;
    process_state after = before;
    EXPECT_TRUE(state_changes(before, after, before).empty());
    EXPECT_TRUE(environment_added(before, after).empty());

    // The plug-in's folder put in front of PATH (its name in another case),
    // TEMP gone, a variable of its own added.
    after.environment = "PATH=C:\\plugin;C:\\Windows\0LANG=C\0PLUGIN_HOME=C:\\plugin\0"s;
    const std::vector<state_change> changes = state_changes(before, after, before);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].scope, state_scope::process);
    EXPECT_EQ(changes[0].what, "the environment variable Path \"C:\\Windows\" became \"C:\\plugin;C:\\Windows\"");
    EXPECT_EQ(changes[1].what, "the environment variable TEMP was removed");
    EXPECT_EQ(environment_added(before, after), (std::vector<std::string>{"PLUGIN_HOME=C:\\plugin"}));

    // A variable of the plug-in's own is its own to change and remove.
    process_state later = after;
    later.environment = "PATH=C:\\plugin;C:\\Windows\0LANG=C\0"s;
    EXPECT_TRUE(state_changes(after, later, before).empty());
    EXPECT_EQ(state_changes(after, later, after).size(), 1u) << "had the host had it, its removal would count";
    later.environment = "PATH=C:\\plugin;C:\\Windows\0"s;
    ASSERT_EQ(state_changes(after, later, before).size(), 1u);
    EXPECT_EQ(state_changes(after, later, before)[0].what, "the environment variable LANG was removed");
}

TEST(ProcessState, TheHostThreadsErrorModeAndApartmentAreItsOwn)
{
    process_state before;
    process_state after = before;
    after.thread_error_mode = 0x8003;
    after.apartment = com_apartment::multithreaded;
    const std::vector<state_change> changes = state_changes(before, after, before);
    ASSERT_EQ(changes.size(), 2u);
    for (const state_change& change : changes) EXPECT_EQ(change.scope, state_scope::host_thread);
    EXPECT_EQ(changes[0].what, "the host thread's error mode 0x0 became 0x8003");
    EXPECT_EQ(changes[1].what, "the host thread's COM apartment none became multithreaded (CoInitializeEx on the "
                               "host's thread without CoUninitialize)");
}
