#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <skarvel/shared/input/tm_fixed_string.h>

#include "guarded_bytes.h"

namespace {

// The string holds exactly `expected`, then zero bytes to the end of its
// 256-byte buffer.
void expect_holds(const tm_fixed_string& s, const std::string& expected)
{
    ASSERT_EQ(s.GetLength(), expected.size());
    EXPECT_EQ(std::memcmp(s.GetCString(), expected.data(), expected.size()), 0);
    for (std::size_t i = expected.size(); i < tm_fixed_string::capacity; ++i) ASSERT_EQ(s.data()[i], 0) << "byte " << i;
}

constexpr tm_fixed_string built_name("View.Up");
static_assert(built_name.GetLength() == 7);
static_assert(sizeof(tm_fixed_string) == 4 + 256);

TEST(FixedString, FromALiteralHoldsItsCharactersAndZeros)
{
    expect_holds(built_name, "View.Up");
    expect_holds(tm_fixed_string("Performance.Speed.MinimumFlapRetraction"), "Performance.Speed.MinimumFlapRetraction");
    expect_holds(tm_fixed_string(""), "");
}

TEST(FixedString, EmptyIsAllZero)
{
    expect_holds(tm_fixed_string(), "");
}

TEST(FixedString, FromCharsStopsAtTheMaximumCountWithoutReadingPastIt)
{
    // Byte 64 of the source lies on an inaccessible page.
    guarded_bytes source(64);
    std::memset(source.data(), 'x', 64);
    const tm_fixed_string s = tm_fixed_string::from_chars(reinterpret_cast<const char*>(source.data()), 64);
    expect_holds(s, std::string(64, 'x'));

    expect_holds(tm_fixed_string::from_chars("abcdef", 4), "abcd");
    expect_holds(tm_fixed_string::from_chars("abcdef", 0), "");
}

TEST(FixedString, FromCharsStopsAtAZeroByte)
{
    // What follows the zero never shows, in the string or in its buffer.
    const char source[] = {'a', 'b', 'c', 0, 'X', 'Y', 'Z', 0};
    expect_holds(tm_fixed_string::from_chars(source, sizeof source), "abc");
}

TEST(FixedString, FromCharsStopsAt255Characters)
{
    guarded_bytes source(300);
    std::memset(source.data(), 'n', 300);
    const tm_fixed_string s = tm_fixed_string::from_chars(reinterpret_cast<const char*>(source.data()), 300);
    expect_holds(s, std::string(255, 'n'));
    EXPECT_EQ(s.data()[255], 0);
}

TEST(FixedString, FromCharsKeepsBytesAbove0x7f)
{
    const char source[] = "\xE9\x80\xFF";
    expect_holds(tm_fixed_string::from_chars(source, 64), "\xE9\x80\xFF");
}

TEST(FixedString, FromUnitsMapsLatin1AndReplacesTheRest)
{
    const char16_t units[] = {0x0041, 0x00E9, 0x20AC, 0x0000, 0x0042};
    expect_holds(tm_fixed_string::from_units(units, 5), "A\xE9?");

    // Each half of a surrogate pair is one "?"; 0x00FF is the last unit kept.
    const char16_t edges[] = {0xD83D, 0xDE00, 0x00FF, 0x0100, 0x0001};
    expect_holds(tm_fixed_string::from_units(edges, 5), "??\xFF?\x01");
}

TEST(FixedString, FromUnitsStopsAtTheMaximumCountWithoutReadingPastIt)
{
    guarded_bytes source(32 * sizeof(char16_t));
    std::vector<char16_t> units(32, u'w');
    source.fill(units.data());
    const tm_fixed_string s = tm_fixed_string::from_units(reinterpret_cast<const char16_t*>(source.data()), 32);
    expect_holds(s, std::string(32, 'w'));

    const std::vector<char16_t> many(300, u'm');
    expect_holds(tm_fixed_string::from_units(many.data(), many.size()), std::string(255, 'm'));
}

TEST(FixedString, ACopyCarriesTheWholeBuffer)
{
    const char source[] = {'a', 'b', 'c', 0, 'X', 'Y', 'Z', 0};
    const tm_fixed_string original = tm_fixed_string::from_chars(source, sizeof source);
    tm_fixed_string copy = tm_fixed_string::from_chars("something longer than abc", 64);
    copy = original;
    EXPECT_EQ(std::memcmp(&copy, &original, sizeof copy), 0);
    expect_holds(copy, "abc");
}

TEST(FixedString, NameEntryPairsANameWithItsIdentifier)
{
    const tm_msg_name_entry entry("Simulation.Time");
    expect_holds(entry.name, "Simulation.Time");
    EXPECT_EQ(entry.identifier.GetValue(), 0x9CA7FB58F287A1F3ull);
}

}  // namespace
