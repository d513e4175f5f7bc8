// The outputs every Update gets: preset other than 0, inside guard bytes,
// and what an Update did wrong with them, named.
#include <gtest/gtest.h>

#include <cstring>

#include "tools/validate/update_outputs.h"

using namespace validate;

TEST(UpdateOutputs, BothSetToZeroIsNoFaultAndEachUpdateStartsAfresh)
{
    update_outputs outputs;
    EXPECT_EQ(*outputs.first(), update_outputs::preset);
    EXPECT_NE(update_outputs::preset, 0);
    *outputs.first() = 0;
    *outputs.second() = 0;
    EXPECT_FALSE(outputs.fault(1));
    outputs.reset();
    EXPECT_EQ(*outputs.first(), update_outputs::preset);
    EXPECT_EQ(*outputs.second(), update_outputs::preset);
}

TEST(UpdateOutputs, AnOutputLeftOrSetOtherThanZeroIsNamedWithItsFrame)
{
    update_outputs outputs;  // an Update that wrote neither
    std::optional<check_result> left = outputs.fault(7);
    ASSERT_TRUE(left);
    EXPECT_EQ(left->kind, fault_kind::output_not_zero);
    EXPECT_EQ(left->call, plugin_call::update);
    EXPECT_EQ(left->frame, 7u);
    EXPECT_EQ(left->summary, "Update left an output other than 0: output 1 left as the host preset it (0x5A5A5A5A), "
                             "output 2 left as the host preset it (0x5A5A5A5A); both must be 0 after every Update");
    outputs.reset();
    *outputs.first() = 0;
    *outputs.second() = -3;
    left = outputs.fault(8);
    ASSERT_TRUE(left);
    EXPECT_EQ(left->summary,
              "Update left an output other than 0: output 2 set to -3; both must be 0 after every Update");
}

TEST(UpdateOutputs, AWritePastEitherOutputIsFoundBeforeItsValue)
{
    update_outputs outputs;
    // An Update that takes its outputs for 64-bit integers: 8 bytes of 0 into each.
    const long long zero = 0;
    std::memcpy(outputs.first(), &zero, sizeof zero);
    std::memcpy(outputs.second(), &zero, sizeof zero);
    std::optional<check_result> past = outputs.fault(1);
    ASSERT_TRUE(past);
    EXPECT_EQ(past->kind, fault_kind::wrote_past_output);
    EXPECT_EQ(past->frame, 1u);
    EXPECT_EQ(past->summary, "Update wrote past its 4-byte outputs, into the host's memory (4 bytes after output 1; "
                             "4 bytes after output 2 changed): each output is one std::int32_t");
    // A write before an output is one past it too.
    outputs.reset();
    *outputs.first() = 0;
    *outputs.second() = 0;
    reinterpret_cast<unsigned char*>(outputs.second())[-1] = 0;
    past = outputs.fault(2);
    ASSERT_TRUE(past);
    EXPECT_NE(past->summary.find("(1 byte before output 2 changed)"), std::string::npos) << past->summary;
}
