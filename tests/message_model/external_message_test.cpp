#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <ostream>
#include <string>
#include <utility>

#include <skarvel/shared/input/tm_external_message.h>

#include "guarded_bytes.h"
#include "record_bytes.h"

namespace {

using bytes128 = std::array<std::uint8_t, 128>;

bytes128 bytes_of(const tm_external_message& m)
{
    bytes128 b;
    std::memcpy(b.data(), &m, b.size());
    return b;
}

// Header byte 26 is 1 in every record the plug-in makes.
bytes128 default_bytes()
{
    bytes128 b{};
    b[0] = 0xAA;
    b[1] = 0xAA;
    b[2] = 0x40;
    b[26] = 0x01;
    return b;
}

static_assert(simulation_time_flags.GetValue() == 0x06000040u);
static_assert(motion_vector_flags.GetValue() == 0x02000040u);

constexpr tm_external_message simulation_time(tm_msg_id("Simulation.Time"), tm_msg_data_type::Double,
                                              simulation_time_flags);
static_assert(simulation_time.GetID() == 0x9CA7FB58F287A1F3ull);
static_assert(simulation_time.GetDataType() == tm_msg_data_type::Double);
static_assert(simulation_time.GetFlags().GetValue() == 0x06000040u);
static_assert(tm_external_message::GetMaxDataSize() == 64);

TEST(MessageRecord, DefaultBytes)
{
    const tm_external_message m;
    EXPECT_EQ(bytes_of(m), default_bytes());
    EXPECT_EQ(m.GetDataType(), tm_msg_data_type::None);
    EXPECT_EQ(m.GetID(), 0u);
    EXPECT_EQ(m.GetFlags().GetValue(), 0u);
}

TEST(MessageRecord, PredefinedRecordBytes)
{
    bytes128 expected = default_bytes();
    const std::uint8_t id[] = {0xF3, 0xA1, 0x87, 0xF2, 0x58, 0xFB, 0xA7, 0x9C};
    std::memcpy(&expected[16], id, sizeof id);
    expected[25] = 0x02;
    const std::uint8_t flags[] = {0x40, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00};
    std::memcpy(&expected[56], flags, sizeof flags);
    EXPECT_EQ(bytes_of(simulation_time), expected);
}

TEST(MessageRecord, FlagsAreZeroExtendedAndCarriedWhole)
{
    EXPECT_EQ(tm_msg_flags(0xFFFFFFFFu).GetValue(), 0x00000000FFFFFFFFull);
    tm_external_message m;
    m.Header.Flags = 0x8000000000000001ull;
    EXPECT_EQ(m.GetFlags().GetValue(), 0x8000000000000001ull);
}

TEST(MessageRecord, DataTypesBeyondString8AreCarried)
{
    const tm_external_message m = record_of(static_cast<tm_msg_data_type>(200), {});
    EXPECT_EQ(static_cast<int>(m.GetDataType()), 200);
}

TEST(MessageRecord, IntAndDoubleTakeTheBytesAsTheyAre)
{
    EXPECT_EQ(record_of(tm_msg_data_type::Int, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}).GetInt(), -1);
    EXPECT_EQ(record_of(tm_msg_data_type::Int, {1, 2, 3, 4, 5, 6, 7, 8}).GetInt(), 0x0807060504030201);

    // 1.5 and -0.0 as IEEE 754 doubles, little-endian.
    EXPECT_EQ(record_of(tm_msg_data_type::Double, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}).GetDouble(), 1.5);
    const double negative_zero = record_of(tm_msg_data_type::Double, {0, 0, 0, 0, 0, 0, 0, 0x80}).GetDouble();
    EXPECT_EQ(negative_zero, 0.0);
    EXPECT_TRUE(std::signbit(negative_zero));

    // A header alone leaves the value area zero.
    EXPECT_EQ(record_of(tm_msg_data_type::Double, {}).GetDouble(), 0.0);
}

TEST(MessageRecord, VectorsReadTheirComponentsOnly)
{
    tm_external_message v2 = record_of(tm_msg_data_type::Vector2d, {});
    put_double(v2, 0, 1.5);
    put_double(v2, 1, -2.0);
    put_double(v2, 2, 99.0);
    const tm_vector3d a = v2.GetVector2d();
    EXPECT_EQ(a.x, 1.5);
    EXPECT_EQ(a.y, -2.0);
    EXPECT_EQ(a.z, 0.0);

    tm_external_message v3 = record_of(tm_msg_data_type::Vector3d, {});
    for (int i = 0; i < 8; ++i) put_double(v3, i, 10.0 + i);
    const tm_vector3d b = v3.GetVector3d();
    EXPECT_EQ(b.x, 10.0);
    EXPECT_EQ(b.y, 11.0);
    EXPECT_EQ(b.z, 12.0);

    tm_external_message v4 = v3;
    v4.Header.DataType = tm_msg_data_type::Vector4d;
    const tm_vector4d c = v4.GetVector4d();
    EXPECT_EQ(c.x, 10.0);
    EXPECT_EQ(c.y, 11.0);
    EXPECT_EQ(c.z, 12.0);
    EXPECT_EQ(c.w, 13.0);
}

TEST(MessageRecord, StringOf16BitUnits)
{
    EXPECT_STREQ(
        record_of(tm_msg_data_type::String, {0x48, 0x00, 0x69, 0x00, 0x00, 0x00, 0x41, 0x00}).GetString().GetCString(),
        "Hi");
    EXPECT_EQ(record_of(tm_msg_data_type::String, {0x48, 0x00, 0x69, 0x00}).GetString().GetLength(), 2u);
    // A unit outside Latin-1 becomes "?"; the high byte comes second.
    EXPECT_STREQ(record_of(tm_msg_data_type::String, {0xAC, 0x20, 0xE9, 0x00}).GetString().GetCString(), "?\xE9");
}

TEST(MessageRecord, StringsEndWithTheValueArea)
{
    // The record's last byte is the last readable one: the getters must not
    // look past the value area, and a full area gives a full string.
    guarded_bytes memory(sizeof(tm_external_message));
    tm_external_message* m = new (memory.data()) tm_external_message();

    m->Header.DataType = tm_msg_data_type::String8;
    std::memset(m->Data, 's', sizeof m->Data);
    const tm_fixed_string narrow = m->GetString();
    EXPECT_EQ(narrow.GetLength(), 64u);
    EXPECT_EQ(std::string(narrow.GetCString()), std::string(64, 's'));

    m->Header.DataType = tm_msg_data_type::String;
    for (std::size_t i = 0; i < 32; ++i) {
        m->Data[2 * i] = 'u';
        m->Data[2 * i + 1] = 0;
    }
    const tm_fixed_string wide = m->GetString();
    EXPECT_EQ(wide.GetLength(), 32u);
    EXPECT_EQ(std::string(wide.GetCString()), std::string(32, 'u'));
}

TEST(MessageRecord, String8StopsAtAZeroByte)
{
    const tm_fixed_string s = record_of(tm_msg_data_type::String8, {'a', 'b', 0, 'c'}).GetString();
    EXPECT_EQ(s.GetLength(), 2u);
    EXPECT_STREQ(s.GetCString(), "ab");
}

#if GTEST_HAS_DEATH_TEST && !defined(NDEBUG)
// A precondition report names the expression, the source path and the line,
// in whatever order the C library prints them.
class report_matcher : public testing::MatcherInterface<const std::string&> {
public:
    report_matcher(std::string text, unsigned line) : text_(std::move(text)), line_(std::to_string(line)) {}

    bool MatchAndExplain(const std::string& output, testing::MatchResultListener*) const override
    {
        return output.find(text_) != std::string::npos &&
               output.find("shared/input/tm_external_message") != std::string::npos && names_line(output);
    }

    void DescribeTo(std::ostream* os) const override
    {
        *os << "reports \"" << text_ << "\" in shared/input/tm_external_message at line " << line_;
    }

private:
    // The line stands as a whole number, not as part of a longer one.
    bool names_line(const std::string& output) const
    {
        const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
        for (std::size_t at = output.find(line_); at != std::string::npos; at = output.find(line_, at + 1)) {
            const std::size_t end = at + line_.size();
            if ((at == 0 || !is_digit(output[at - 1])) && (end == output.size() || !is_digit(output[end]))) return true;
        }
        return false;
    }

    std::string text_;
    std::string line_;
};

testing::Matcher<const std::string&> reports(const char* text, unsigned line)
{
    return testing::MakeMatcher(new report_matcher(text, line));
}

TEST(MessageRecordDeathTest, GettersReportAMismatchedDataType)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const tm_external_message none = record_of(tm_msg_data_type::None, {});
    const tm_external_message text = record_of(tm_msg_data_type::String, {});

    EXPECT_DEATH((void)text.GetInt(), reports("Header.DataType == tm_msg_data_type::Int", 820));
    EXPECT_DEATH((void)text.GetDouble(), reports("Header.DataType == tm_msg_data_type::Double", 826));
    EXPECT_DEATH((void)text.GetVector2d(), reports("Header.DataType == tm_msg_data_type::Vector2d", 833));
    EXPECT_DEATH((void)text.GetVector3d(), reports("Header.DataType == tm_msg_data_type::Vector3d", 840));
    EXPECT_DEATH((void)text.GetVector4d(), reports("Header.DataType == tm_msg_data_type::Vector4d", 847));
    EXPECT_DEATH((void)none.GetString(), reports("Header.DataType == tm_msg_data_type::String || "
                                                 "Header.DataType == tm_msg_data_type::String8",
                                                 854));
}
#endif

}  // namespace
