// The texts of the message list and where they are drawn. Every expected text
// is a literal, and the same literals are checked in the native build and in
// the Windows build, so both C runtimes are held to one picture.
#include "display/display_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <skarvel/shared/input/tm_msg_id.h>

#include "display_text_testing.h"

using display_testing::double_record;
using display_testing::record_of_type;
using display_testing::record_with;
using display_testing::shown;

namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
constexpr double inf_value = std::numeric_limits<double>::infinity();

std::string value_text_of(double value)
{
    return shown(format_value(double_record(value)));
}

}  // namespace

TEST(DisplayHeader, FirstPaintBeforeAnyFrame)
{
    EXPECT_EQ(shown(format_header(0, 0.0, 1)), "messages = 0  dt=0.000000  counter=1");
}

TEST(DisplayHeader, TimeStepHasSixDecimalsAndCountsAllDigits)
{
    EXPECT_EQ(shown(format_header(100, 1.0 / 60.0, 42)), "messages = 100  dt=0.016667  counter=42");
    EXPECT_EQ(shown(format_header(UINT64_MAX, -0.5, UINT64_MAX)),
              "messages = 18446744073709551615  dt=-0.500000  counter=18446744073709551615");
}

TEST(DisplayLineNumber, RightAlignedInThreePlaces)
{
    EXPECT_EQ(shown(format_line_number(1)), "  1:");
    EXPECT_EQ(shown(format_line_number(67)), " 67:");
    EXPECT_EQ(shown(format_line_number(100)), "100:");
    EXPECT_EQ(shown(format_line_number(4294967295u)), "4294967295:");
}

TEST(DisplayValue, NoneIsVoid)
{
    EXPECT_EQ(shown(format_value(tm_external_message())), "void");
}

TEST(DisplayValue, IntShowsAllDigitsAndItsSign)
{
    const std::int64_t values[][1] = {{0}, {-1}, {INT64_MAX}, {INT64_MIN}};
    EXPECT_EQ(shown(format_value(record_with(tm_msg_data_type::Int, values[0]))), "v=0");
    EXPECT_EQ(shown(format_value(record_with(tm_msg_data_type::Int, values[1]))), "v=-1");
    EXPECT_EQ(shown(format_value(record_with(tm_msg_data_type::Int, values[2]))), "v=9223372036854775807");
    EXPECT_EQ(shown(format_value(record_with(tm_msg_data_type::Int, values[3]))), "v=-9223372036854775808");
}

TEST(DisplayValue, DoubleHasThreeDecimalsRoundedFromItsExactValue)
{
    EXPECT_EQ(value_text_of(1.5), "v=1.500");
    EXPECT_EQ(value_text_of(-273.15), "v=-273.150");
    EXPECT_EQ(value_text_of(123456789.0), "v=123456789.000");
    // Exact halves go to the even neighbour.
    EXPECT_EQ(value_text_of(0.0625), "v=0.062");
    EXPECT_EQ(value_text_of(0.1875), "v=0.188");
    // 1.0005 is stored a little below the half, 2.0005 a little above.
    EXPECT_EQ(value_text_of(1.0005), "v=1.000");
    EXPECT_EQ(value_text_of(2.0005), "v=2.001");
    EXPECT_EQ(value_text_of(0.9995), "v=1.000");  // a little above: the carry reaches the units
    EXPECT_EQ(value_text_of(9.9999), "v=10.000");
    // Below a thousandth: zero, with the sign bit's minus.
    EXPECT_EQ(value_text_of(0.0004), "v=0.000");
    EXPECT_EQ(value_text_of(-0.0004), "v=-0.000");
    EXPECT_EQ(value_text_of(-0.0), "v=-0.000");
    EXPECT_EQ(value_text_of(std::numeric_limits<double>::denorm_min()), "v=0.000");
    EXPECT_EQ(value_text_of(1e21), "v=1000000000000000000000.000");
    EXPECT_EQ(value_text_of(9007199254740993.0), "v=9007199254740992.000");
}

TEST(DisplayValue, NotANumberAndInfinity)
{
    EXPECT_EQ(value_text_of(nan_value), "v=nan");
    EXPECT_EQ(value_text_of(-nan_value), "v=-nan");
    EXPECT_EQ(value_text_of(inf_value), "v=inf");
    EXPECT_EQ(value_text_of(-inf_value), "v=-inf");
    const double vector[] = {nan_value, -inf_value, inf_value, -nan_value};
    EXPECT_EQ(shown(format_value(record_with(tm_msg_data_type::Vector4d, vector))), "v=(nan -inf inf -nan)");
    EXPECT_EQ(shown(format_header(1, nan_value, 2)), "messages = 1  dt=nan  counter=2");
    EXPECT_EQ(shown(format_header(1, -inf_value, 2)), "messages = 1  dt=-inf  counter=2");
}

TEST(DisplayValue, VectorsShowTheirOwnNumberOfComponents)
{
    // Bytes 16 to 23 of a Vector2d are not shown, whatever they hold.
    const double four[] = {1.5, -2.0, 99.0, 0.25};
    EXPECT_EQ(shown(format_value(record_with(tm_msg_data_type::Vector2d, four))), "v=(1.500 -2.000)");
    EXPECT_EQ(shown(format_value(record_with(tm_msg_data_type::Vector3d, four))), "v=(1.500 -2.000 99.000)");
    EXPECT_EQ(shown(format_value(record_with(tm_msg_data_type::Vector4d, four))), "v=(1.500 -2.000 99.000 0.250)");
}

TEST(DisplayValue, StringsBetweenQuotes)
{
    // "Hi", a unit above 255 and e acute in 16-bit units.
    const std::uint16_t units[] = {u'H', u'i', 0x263A, 0x00E9, 0};
    EXPECT_EQ(shown(format_value(record_with(tm_msg_data_type::String, units))), "s='Hi?\xC3\xA9'");

    // Bytes above 0x7F widen to the character of the same code.
    const unsigned char bytes[] = {'c', 'a', 'f', 0xE9, 0xFF, 0x80, 0};
    EXPECT_EQ(shown(format_value(record_with(tm_msg_data_type::String8, bytes))), "s='caf\xC3\xA9\xC3\xBF\xC2\x80'");

    EXPECT_EQ(shown(format_value(record_of_type(6))), "s=''");
    EXPECT_EQ(shown(format_value(record_of_type(7))), "s=''");
}

TEST(DisplayValue, TypesWithoutValueTextAreEmpty)
{
    // Value bytes that would read as numbers or text are ignored.
    const char bytes[] = "not shown";
    for (const int type : {8, 9, 128, 255}) {
        tm_external_message message = record_with(tm_msg_data_type::String8, bytes);
        message.Header.DataType = static_cast<tm_msg_data_type>(static_cast<std::uint8_t>(type));
        const display_text text = format_value(message);
        EXPECT_EQ(text.length, 0u) << "data type " << type;
        EXPECT_EQ(text.units[0], 0) << "data type " << type;
    }
}

TEST(DisplayNameAndFlags, CatalogueNameAndUnsignedFlags)
{
    const tm_external_message velocity(tm_msg_id("Aircraft.Velocity"), tm_msg_data_type::Vector3d,
                                       simulation_time_flags);
    EXPECT_EQ(shown(format_name_and_flags(velocity)), "'Aircraft.Velocity'  flags=100663360");

    tm_external_message all_flags = record_of_type(1, UINT64_MAX);
    all_flags.Header.ID = tm_msg_id("Performance.Speed.MinimumFlapRetraction").GetValue();
    EXPECT_EQ(shown(format_name_and_flags(all_flags)),
              "'Performance.Speed.MinimumFlapRetraction'  flags=18446744073709551615");
}

TEST(DisplayNameAndFlags, UnknownIdentifier)
{
    EXPECT_EQ(shown(format_name_and_flags(record_of_type(0, 5))), "'unknown'  flags=5");
    // A type without a value text is named like any other.
    tm_external_message odd = record_of_type(200, 0);
    odd.Header.ID = tm_msg_id("No.Such.Name").GetValue();
    EXPECT_EQ(shown(format_name_and_flags(odd)), "'unknown'  flags=0");
}

TEST(DisplayTruncation, LongTextsAreCutAt254Units)
{
    // The largest double has 309 integer digits.
    const std::string largest_value =
        "v=17976931348623157081452742373170435679807056752584499659891747680315726078002853876058955863276687817"
        "15404589535143824642343213268894641827684675467035375169860499105765512820762454900903893289440758685"
        "084551339423045832369032229481658085593321233482747978262041447231687381771809192998812504040261841248"
        "58368.000";
    EXPECT_EQ(shown(format_value(double_record(std::numeric_limits<double>::max()))), largest_value.substr(0, 254));

    const std::string huge_time_step =
        "messages = 3  dt=10000000000000000525047602552044202487044685811081591549158541155118024579889081957"
        "8637137508044786404370444383288387817694252323536043057564479218478670698284838720092657580373783023"
        "379478809005936895323497079994508111903896764088007465";
    const display_text header = format_header(3, 1e300, 2);
    EXPECT_EQ(header.length, 254u);
    EXPECT_EQ(shown(header), huge_time_step);
    EXPECT_EQ(header.units[254], 0);
    EXPECT_EQ(header.units[255], 0);

    // A text of exactly 254 units is whole; of one more, the last unit goes.
    const std::string whole = shown(format_header(0, 1e216, 100));
    EXPECT_EQ(whole.size(), 254u);
    EXPECT_EQ(whole.substr(whole.size() - 12), " counter=100");
    EXPECT_EQ(shown(format_header(0, 1e216, 1000)), whole);
}

// The texts of many doubles, reduced to one FNV-1a digest. The digest is that
// of glibc's own "%.3f" and "%f" texts (checked natively against snprintf), so
// the Windows build matching it proves the same texts there.
TEST(DisplayValue, ManyDoublesGiveTheReferenceTexts)
{
    std::uint64_t digest = 0xCBF29CE484222325ull;
    const auto add = [&digest](const display_text& text) {
        for (std::uint32_t i = 0; i <= text.length; ++i) {
            digest ^= text.units[i] & 0xFFu;
            digest *= 0x100000001B3ull;
            digest ^= text.units[i] >> 8;
            digest *= 0x100000001B3ull;
        }
    };
    display_testing::double_sequence doubles;
    for (int i = 0; i < 20000; ++i) {
        add(format_value(double_record(doubles.next())));
        add(format_header(0, doubles.next(), 0));
    }
    EXPECT_EQ(digest, 0x130F39A39FFFDEF3ull);
}

namespace {

struct drawn_text {
    float x;
    float y;
    std::string text;
};

std::vector<drawn_text> compose(const tm_message_list& list, double time_step, std::uint64_t counter)
{
    std::vector<drawn_text> drawn;
    compose_message_list(list, time_step, counter, [&drawn](float x, float y, const display_text& text) {
        drawn.push_back({x, y, shown(text)});
    });
    return drawn;
}

}  // namespace

TEST(DisplayCompose, EmptyListDrawsOnlyTheHeader)
{
    const std::vector<drawn_text> drawn = compose({}, 0.0, 1);
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0].x, 10.0f);
    EXPECT_EQ(drawn[0].y, 4.0f);
    EXPECT_EQ(drawn[0].text, "messages = 0  dt=0.000000  counter=1");
}

TEST(DisplayCompose, EachLineDrawsNumberValueThenNameAndFlags)
{
    const std::int64_t altitude[] = {-12};
    tm_external_message first = record_with(tm_msg_data_type::Int, altitude);
    first.Header.ID = tm_msg_id("Aircraft.Altitude").GetValue();
    first.Header.Flags = 3;
    const tm_external_message second = record_of_type(9, 7);

    const std::vector<drawn_text> drawn = compose({first, second}, 0.02, 5);
    ASSERT_EQ(drawn.size(), 7u);
    EXPECT_EQ(drawn[0].text, "messages = 2  dt=0.020000  counter=5");

    const float xs[] = {0.0f, 40.0f, 300.0f};
    const char* const texts[] = {"  1:", "v=-12", "'Aircraft.Altitude'  flags=3", "  2:", "", "'unknown'  flags=7"};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(drawn[1 + i].x, xs[i % 3]) << "text " << i;
        EXPECT_EQ(drawn[1 + i].y, i < 3 ? 20.0f : 36.0f) << "text " << i;
        EXPECT_EQ(drawn[1 + i].text, texts[i]) << "text " << i;
    }
}

TEST(DisplayCompose, AHundredRecordsDrawSixtySevenLines)
{
    const tm_message_list list(100, tm_external_message());
    const std::vector<drawn_text> drawn = compose(list, 0.0, 1);
    ASSERT_EQ(drawn.size(), 1u + 67u * 3u);
    EXPECT_EQ(drawn[0].text, "messages = 100  dt=0.000000  counter=1");
    const drawn_text& last_number = drawn[1 + 66 * 3];
    EXPECT_EQ(last_number.text, " 67:");
    EXPECT_EQ(last_number.y, 1076.0f);
    EXPECT_EQ(drawn.back().y, 1076.0f);
    EXPECT_EQ(drawn.back().x, 300.0f);
    for (std::size_t line = 1; line <= 67; ++line)
        EXPECT_EQ(drawn[1 + (line - 1) * 3].y, 4.0f + 16.0f * static_cast<float>(line)) << "line " << line;
}

TEST(DisplayCompose, SixtySixAndSixtySevenRecordsAreDrawnWhole)
{
    EXPECT_EQ(compose(tm_message_list(66, tm_external_message()), 0.0, 1).size(), 1u + 66u * 3u);
    EXPECT_EQ(compose(tm_message_list(67, tm_external_message()), 0.0, 1).size(), 1u + 67u * 3u);
    EXPECT_EQ(compose(tm_message_list(68, tm_external_message()), 0.0, 1).size(), 1u + 67u * 3u);
}
