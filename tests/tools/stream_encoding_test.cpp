// The stream a host sends: records built for every data type, written back
// to back, read by the plug-in's own reader into the same records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <skarvel/shared/input/tm_message_stream.h>

#include "tools/common/message_builder.h"
#include "tools/common/stream_encoding.h"

namespace {

bool same_record(const tm_external_message& a, const tm_external_message& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

TEST(MessageBuilder, SizesAreTheBytesEachTypeCarries)
{
    const tm_msg_id id("Aircraft.Altitude");
    EXPECT_EQ(tools::make_none(id).Header.Size, 64);
    EXPECT_EQ(tools::make_int(id, 1).Header.Size, 72);
    EXPECT_EQ(tools::make_double(id, 1).Header.Size, 72);
    EXPECT_EQ(tools::make_vector2d(id, 1, 2).Header.Size, 80);
    EXPECT_EQ(tools::make_vector3d(id, {1, 2, 3}).Header.Size, 88);
    EXPECT_EQ(tools::make_vector4d(id, {1, 2, 3, 4}).Header.Size, 96);
    EXPECT_EQ(tools::make_string8(id, "ABCD").Header.Size, 64 + 5);  // with its zero
    EXPECT_EQ(tools::make_string(id, "ABCD").Header.Size, 64 + 10);
    EXPECT_EQ(tools::make_string8(id, std::string(64, 'x')).Header.Size, 128);  // full: no zero
    EXPECT_EQ(tools::make_string(id, std::string(40, 'x')).Header.Size, 128);  // cut to 32 units
}

TEST(MessageBuilder, ValuesReadBackThroughTheTypedGetters)
{
    const tm_msg_id id("Aircraft.Velocity");
    EXPECT_EQ(tools::make_int(id, -7).GetInt(), -7);
    EXPECT_EQ(tools::make_double(id, 1.25).GetDouble(), 1.25);
    const tm_vector3d v2 = tools::make_vector2d(id, 1.5, -2.0).GetVector2d();
    EXPECT_EQ(v2.x, 1.5);
    EXPECT_EQ(v2.y, -2.0);
    const tm_vector3d v3 = tools::make_vector3d(id, {1, 2, 3}).GetVector3d();
    EXPECT_EQ(v3.z, 3.0);
    const tm_vector4d q = tools::make_vector4d(id, {0, 0, 0.6, 0.8}).GetVector4d();
    EXPECT_EQ(q.w, 0.8);
    EXPECT_STREQ(tools::make_string(id, "Trainer \xE9").GetString().GetCString(), "Trainer \xE9");
    EXPECT_STREQ(tools::make_string8(id, "XSKV").GetString().GetCString(), "XSKV");
    const tm_external_message m = tools::make_double(id, 0.0, simulation_time_flags);
    EXPECT_EQ(m.GetID(), 0x977C869390C770A0u);
    EXPECT_EQ(m.GetFlags().GetValue(), simulation_time_flags.GetValue());
    EXPECT_EQ(m.Header.Magic, 0xAAAA);
    EXPECT_EQ(m.Header.Reserved26, 1);
}

TEST(StreamEncoding, ThePluginsReaderGetsTheSameRecordsBack)
{
    const tm_msg_id id("Aircraft.Name");
    const tm_message_list frame{tools::make_string8(id, "ODD"),  // 68 bytes: the next header is unaligned
                                tools::make_none(id), tools::make_vector4d(id, {1, 2, 3, 4}),
                                tools::make_string(id, "Skarvel"), tools::make_int(id, 42)};
    std::vector<std::uint8_t> stream;
    tools::encode_stream(frame, stream);
    ASSERT_EQ(stream.size(), 68u + 64 + 96 + 80 + 72);

    std::uint32_t position = 0;
    for (const tm_external_message& sent : frame) {
        const tm_external_message got = read_message(stream.data(), position);
        EXPECT_TRUE(same_record(got, sent));
    }
    EXPECT_EQ(position, stream.size());
}

TEST(StreamEncoding, OversizedAndUndersizedSizesKeepTheirExtent)
{
    tm_external_message big = tools::make_double(tm_msg_id("Simulation.Time"), 3.0);
    big.Header.Size = 200;  // the stream carries 136 value bytes, the record keeps 64
    tm_external_message small = tools::make_none(tm_msg_id("Simulation.Time"));
    small.Header.Size = 10;  // read as a bare header
    std::vector<std::uint8_t> stream;
    tools::encode_stream({big, small}, stream);
    ASSERT_EQ(stream.size(), 200u + 64);
    tm_message_list back;
    std::string error;
    ASSERT_TRUE(tools::decode_stream(stream.data(), stream.size(), 2, back, error)) << error;
    EXPECT_EQ(back[0].GetDouble(), 3.0);
    EXPECT_EQ(back[1].Header.Size, 10);
}

TEST(StreamEncoding, DecodeRefusesShortStreamsAndLeftovers)
{
    std::vector<std::uint8_t> stream;
    tools::encode_stream({tools::make_double(tm_msg_id("Simulation.Time"), 1.0)}, stream);
    tm_message_list back;
    std::string error;
    EXPECT_FALSE(tools::decode_stream(stream.data(), stream.size() - 1, 1, back, error));
    EXPECT_EQ(error, "message 1 of 1 runs past the end of the 71-byte stream (at byte 0)");
    EXPECT_FALSE(tools::decode_stream(stream.data(), stream.size(), 2, back, error));
    EXPECT_EQ(back.size(), 1u);
    EXPECT_FALSE(tools::decode_stream(stream.data(), stream.size(), 0, back, error));
    EXPECT_EQ(error, "72 bytes follow the last of the 0 messages");
    EXPECT_TRUE(tools::decode_stream(stream.data(), stream.size(), 1, back, error));
}
