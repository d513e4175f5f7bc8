#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include <skarvel/shared/input/tm_message_stream.h>

#include "guarded_bytes.h"

namespace {

// Builds a received stream byte by byte, independently of the record's layout.
class stream_writer {
public:
    // One message: a header with `size`, `type` and `id`, the other header
    // bytes at the values a host writes, then `value` bytes.
    stream_writer& message(std::uint16_t size, tm_msg_data_type type, std::uint64_t id,
                           const std::vector<std::uint8_t>& value = {})
    {
        std::uint8_t header[64] = {};
        put(header, 0, 0xAAAA, 2);
        put(header, 2, size, 2);
        put(header, 16, id, 8);
        header[25] = static_cast<std::uint8_t>(type);
        header[26] = 1;
        return raw(header, sizeof header).raw(value.data(), value.size());
    }

    stream_writer& raw(const void* data, std::size_t count)
    {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + count);
        return *this;
    }

    stream_writer& filler(std::size_t count, std::uint8_t value)
    {
        bytes.insert(bytes.end(), count, value);
        return *this;
    }

    std::vector<std::uint8_t> bytes;

private:
    static void put(std::uint8_t* at, std::size_t offset, std::uint64_t v, int width)
    {
        for (int i = 0; i < width; ++i) at[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
};

std::vector<std::uint8_t> le_double(double v)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    std::vector<std::uint8_t> out(8);
    for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    return out;
}

bool value_area_zero_from(const tm_external_message& m, std::size_t first)
{
    for (std::size_t i = first; i < 64; ++i)
        if (m.Data[i] != 0) return false;
    return true;
}

constexpr std::uint64_t time_id = tm_msg_id("Simulation.Time").GetValue();
constexpr std::uint64_t velocity_id = tm_msg_id("Aircraft.Velocity").GetValue();

TEST(MessageStream, CopiesEveryHeaderAndValueByteUnchanged)
{
    // A full-size message whose uninterpreted header bytes are all set.
    std::vector<std::uint8_t> stream(128);
    for (std::size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<std::uint8_t>(i * 37 + 11);
    stream[2] = 128;
    stream[3] = 0;
    std::uint32_t position = 0;
    const tm_external_message m = read_message(stream.data(), position);
    EXPECT_EQ(position, 128u);
    EXPECT_EQ(std::memcmp(&m, stream.data(), 128), 0);
}

TEST(MessageStream, Size64IsAHeaderAlone)
{
    const stream_writer w = stream_writer().message(64, tm_msg_data_type::Double, time_id).filler(64, 0xEE);
    std::uint32_t position = 0;
    const tm_external_message m = read_message(w.bytes.data(), position);
    EXPECT_EQ(position, 64u);
    EXPECT_TRUE(value_area_zero_from(m, 0));
    EXPECT_EQ(m.GetDouble(), 0.0);
}

TEST(MessageStream, ADoubleTakesIts8ValueBytes)
{
    const stream_writer w =
        stream_writer().message(72, tm_msg_data_type::Double, time_id, le_double(12.25)).filler(100, 0xEE);
    std::uint32_t position = 0;
    const tm_external_message m = read_message(w.bytes.data(), position);
    EXPECT_EQ(position, 72u);
    EXPECT_EQ(m.GetID(), time_id);
    EXPECT_EQ(m.GetDouble(), 12.25);
    EXPECT_TRUE(value_area_zero_from(m, 8));
}

TEST(MessageStream, MessagesFollowEachOtherAtAnyOffset)
{
    std::vector<std::uint8_t> vector3(24);
    for (int i = 0; i < 3; ++i) {
        const std::vector<std::uint8_t> d = le_double(i + 0.5);
        std::copy(d.begin(), d.end(), vector3.begin() + std::ptrdiff_t{8} * i);
    }
    const std::vector<std::uint8_t> hello = {'H', 'e', 'l', 'l', 'o'};
    const std::vector<std::uint8_t> minus_two = {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const stream_writer w = stream_writer()
                                .message(72, tm_msg_data_type::Double, time_id, le_double(3.0))
                                .message(88, tm_msg_data_type::Vector3d, velocity_id, vector3)
                                .message(69, tm_msg_data_type::String8, 7, hello)
                                .message(72, tm_msg_data_type::Int, 8, minus_two);

    std::uint32_t position = 0;
    EXPECT_EQ(read_message(w.bytes.data(), position).GetDouble(), 3.0);
    EXPECT_EQ(position, 72u);
    const tm_vector3d v = read_message(w.bytes.data(), position).GetVector3d();
    EXPECT_EQ(position, 160u);
    EXPECT_EQ(v.x, 0.5);
    EXPECT_EQ(v.y, 1.5);
    EXPECT_EQ(v.z, 2.5);
    EXPECT_STREQ(read_message(w.bytes.data(), position).GetString().GetCString(), "Hello");
    EXPECT_EQ(position, 229u);  // the next header starts at an odd offset
    const tm_external_message last = read_message(w.bytes.data(), position);
    EXPECT_EQ(last.GetID(), 8u);
    EXPECT_EQ(last.GetInt(), -2);
    EXPECT_EQ(position, w.bytes.size());
}

TEST(MessageStream, Size128FillsTheValueArea)
{
    std::vector<std::uint8_t> value(64);
    for (std::size_t i = 0; i < 64; ++i) value[i] = static_cast<std::uint8_t>(i + 1);
    const stream_writer w = stream_writer().message(128, tm_msg_data_type::String8, 1, value);
    std::uint32_t position = 0;
    const tm_external_message m = read_message(w.bytes.data(), position);
    EXPECT_EQ(position, 128u);
    EXPECT_EQ(std::memcmp(m.Data, value.data(), 64), 0);
}

TEST(MessageStream, SizeBelow64CarriesNoValueBytes)
{
    for (std::uint16_t size : std::initializer_list<std::uint16_t>{0, 1, 63}) {
        const stream_writer w = stream_writer()
                                    .message(size, tm_msg_data_type::Int, 5)
                                    .message(72, tm_msg_data_type::Int, 6, {9, 0, 0, 0, 0, 0, 0, 0});
        std::uint32_t position = 0;
        const tm_external_message m = read_message(w.bytes.data(), position);
        EXPECT_EQ(position, 64u) << size;
        EXPECT_EQ(m.Header.Size, size);
        EXPECT_TRUE(value_area_zero_from(m, 0)) << size;
        const tm_external_message next = read_message(w.bytes.data(), position);
        EXPECT_EQ(next.GetID(), 6u) << size;
        EXPECT_EQ(next.GetInt(), 9) << size;
    }
}

TEST(MessageStream, SizeAbove128IsSkippedWhole)
{
    for (std::uint16_t size : std::initializer_list<std::uint16_t>{129, 200, 1000}) {
        std::vector<std::uint8_t> value(size - 64u);
        for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<std::uint8_t>(i + 1);
        const stream_writer w = stream_writer()
                                    .message(size, tm_msg_data_type::String8, 5, value)
                                    .message(72, tm_msg_data_type::Int, 6, {9, 0, 0, 0, 0, 0, 0, 0});
        std::uint32_t position = 0;
        const tm_external_message m = read_message(w.bytes.data(), position);
        EXPECT_EQ(position, size);
        EXPECT_EQ(m.Header.Size, size);
        EXPECT_EQ(std::memcmp(m.Data, value.data(), 64), 0) << size;
        const tm_external_message next = read_message(w.bytes.data(), position);
        EXPECT_EQ(next.GetID(), 6u) << size;
        EXPECT_EQ(next.GetInt(), 9) << size;
    }
}

TEST(MessageStream, ReadsNoByteBeyondTheMessage)
{
    // Each stream ends on an inaccessible page right after its last message.
    for (std::uint16_t size : std::initializer_list<std::uint16_t>{0, 64, 69, 128}) {
        const stream_writer w = stream_writer().message(size, tm_msg_data_type::String8, 3,
                                                        std::vector<std::uint8_t>(tm_message_extent(size) - 64u, 'z'));
        guarded_bytes stream(w.bytes.size());
        stream.fill(w.bytes.data());
        std::uint32_t position = 0;
        const tm_external_message m = read_message(stream.data(), position);
        EXPECT_EQ(position, w.bytes.size());
        EXPECT_EQ(m.GetString().GetLength(), tm_message_value_length(size));
    }
}

// The bounded reader takes the same messages as the reader where the stream
// holds them, and stops the frame where it does not.
class BoundedStream : public testing::Test {
protected:
    static tm_external_message marker()
    {
        tm_external_message m;
        m.Header.ID = 0x5EED;
        std::memset(m.Data, 0x5E, sizeof m.Data);
        return m;
    }

    // Expects the bounded reader to refuse the message at `position`,
    // touching neither the position nor the record.
    static void expect_stop(const std::uint8_t* stream, std::size_t length, std::uint32_t position)
    {
        tm_external_message out = marker();
        std::uint32_t at = position;
        EXPECT_FALSE(read_message_bounded(stream, length, at, out));
        EXPECT_EQ(at, position);
        const tm_external_message untouched = marker();
        EXPECT_EQ(std::memcmp(&out, &untouched, sizeof out), 0);
    }
};

TEST_F(BoundedStream, ReadsAWholeFrameLikeTheReader)
{
    const stream_writer w = stream_writer()
                                .message(72, tm_msg_data_type::Double, time_id, le_double(1.0))
                                .message(0, tm_msg_data_type::None, 1)
                                .message(69, tm_msg_data_type::String8, 2, {'a', 'b', 'c', 'd', 'e'})
                                .message(300, tm_msg_data_type::Int, 3, std::vector<std::uint8_t>(236, 7))
                                .message(64, tm_msg_data_type::Int, 4);
    guarded_bytes stream(w.bytes.size());
    stream.fill(w.bytes.data());

    std::uint32_t bounded_position = 0;
    std::uint32_t position = 0;
    tm_external_message out;
    int count = 0;
    while (read_message_bounded(stream.data(), stream.size(), bounded_position, out)) {
        const tm_external_message expected = read_message(stream.data(), position);
        EXPECT_EQ(bounded_position, position);
        EXPECT_EQ(std::memcmp(&out, &expected, sizeof out), 0);
        ++count;
    }
    EXPECT_EQ(count, 5);
    EXPECT_EQ(bounded_position, w.bytes.size());
}

TEST_F(BoundedStream, StopsWhereAMessageWouldRunPastTheEnd)
{
    const stream_writer w = stream_writer()
                                .message(72, tm_msg_data_type::Double, time_id, le_double(1.0))
                                .message(128, tm_msg_data_type::String8, 2, std::vector<std::uint8_t>(64, 'q'));
    // Cut inside the second header, and inside its value bytes; the stream
    // ends on an inaccessible page.
    for (std::size_t length : {72u + 10u, 72u + 63u, 72u + 64u, 72u + 127u}) {
        guarded_bytes stream(length);
        stream.fill(w.bytes.data());
        std::uint32_t position = 0;
        tm_external_message out;
        ASSERT_TRUE(read_message_bounded(stream.data(), length, position, out));
        EXPECT_EQ(out.GetDouble(), 1.0);
        expect_stop(stream.data(), length, position);
    }
}

TEST_F(BoundedStream, StopsOnASizeThatPointsPastTheEnd)
{
    const stream_writer w = stream_writer().message(0xFFFF, tm_msg_data_type::Int, 1).filler(100, 1);
    guarded_bytes stream(w.bytes.size());
    stream.fill(w.bytes.data());
    expect_stop(stream.data(), stream.size(), 0);
}

TEST_F(BoundedStream, StopsAtOrPastTheEnd)
{
    const stream_writer w = stream_writer().message(64, tm_msg_data_type::Int, 1);
    expect_stop(w.bytes.data(), w.bytes.size(), 64);
    expect_stop(w.bytes.data(), w.bytes.size(), 65);
    expect_stop(w.bytes.data(), w.bytes.size(), UINT32_MAX);
    expect_stop(nullptr, 0, 0);
}

}  // namespace
