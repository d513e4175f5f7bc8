#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <skarvel/shared/input/tm_msg_id.h>

namespace {

// Known identifiers are constant expressions: records that carry them can be
// constant data.
static_assert(tm_msg_id("Aircraft.Velocity").GetValue() == 0x977C869390C770A0ull);
static_assert(tm_msg_id("Aircraft.AngularVelocity").GetValue() == 0xC333841907D74F04ull);
static_assert(tm_msg_id("Simulation.Time").GetValue() == 0x9CA7FB58F287A1F3ull);
static_assert(tm_msg_id("").GetValue() == 0xAF63BD4C8601B7DFull);

// Hashes a name that exists only at run time, with its terminating zero.
std::uint64_t run_time_identifier(const std::string& name)
{
    return tm_msg_hash(name.c_str(), name.size() + 1);
}

TEST(MessageIdentifier, IsTheSameAtBuildTimeAndAtRunTime)
{
    const std::string names[] = {"Aircraft.Velocity", "Aircraft.AngularVelocity", "Simulation.Time", ""};
    const std::uint64_t identifiers[] = {tm_msg_id("Aircraft.Velocity").GetValue(),
                                         tm_msg_id("Aircraft.AngularVelocity").GetValue(),
                                         tm_msg_id("Simulation.Time").GetValue(), tm_msg_id("").GetValue()};
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(run_time_identifier(names[i]), identifiers[i]) << names[i];
}

TEST(MessageIdentifier, CoversTheTerminatingZero)
{
    // The characters alone give a value that no header carries.
    EXPECT_EQ(tm_msg_hash("Simulation.Time", 15), 0x9C5A488534EF3EC1ull);
    EXPECT_NE(tm_msg_id("Simulation.Time").GetValue(), 0x9C5A488534EF3EC1ull);
}

TEST(MessageIdentifier, IsThePublishedFnv1a)
{
    // Published FNV-1a 64 test vectors (no terminating zero).
    EXPECT_EQ(tm_msg_hash("", 0), 0xCBF29CE484222325ull);
    EXPECT_EQ(tm_msg_hash("a", 1), 0xAF63DC4C8601EC8Cull);
    EXPECT_EQ(tm_msg_hash("foobar", 6), 0x85944171F73967E8ull);
}

TEST(MessageIdentifier, TakesAByteAbove0x7fByItsUnsignedValue)
{
    constexpr std::uint64_t basis = 0xCBF29CE484222325ull;
    constexpr std::uint64_t prime = 0x100000001B3ull;
    const unsigned char bytes[] = {'C', 'a', 'f', 0xE9, 0x00};

    std::uint64_t published = basis;
    std::uint64_t sign_extended = basis;
    for (unsigned char b : bytes) {
        published = (published ^ b) * prime;
        sign_extended =
            (sign_extended ^ static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<signed char>(b)))) *
            prime;
    }
    ASSERT_NE(published, sign_extended);

    EXPECT_EQ(tm_msg_id("Caf\xE9").GetValue(), published);
    constexpr std::uint64_t at_build_time = tm_msg_id("Caf\xE9").GetValue();
    EXPECT_EQ(at_build_time, published);
}

TEST(MessageIdentifier, ComparesByValueOnly)
{
    EXPECT_TRUE(tm_msg_id("Simulation.Time") == tm_msg_id("Simulation.Time"));
    EXPECT_FALSE(tm_msg_id("Simulation.Time") != tm_msg_id("Simulation.Time"));
    // Case and a single letter make different names.
    EXPECT_NE(tm_msg_id("Simulation.Time"), tm_msg_id("simulation.time"));
    EXPECT_NE(tm_msg_id("Simulation.TakeSceenshot"), tm_msg_id("Simulation.TakeScreenshot"));
}

}  // namespace
