// The frames the stream checks hand over: replayable random frames, and
// edge frames whose bytes hold what they claim to.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

#include <skarvel/shared/input/tm_message_stream.h>

#include "tools/common/stream_encoding.h"
#include "tools/validate/stream_frames.h"

using namespace validate;

namespace {

// The frame's stream holds exactly its counted messages, each within 64 to
// 128 bytes.
void expect_well_formed(const test_frame& frame)
{
    tm_message_list messages;
    std::string error;
    EXPECT_TRUE(tools::decode_stream(frame.stream.data(), frame.stream.size(), frame.count, messages, error))
        << frame.what << ": " << error;
    for (const tm_external_message& m : messages) {
        EXPECT_GE(m.Header.Size, 64) << frame.what;
        EXPECT_LE(m.Header.Size, 128) << frame.what;
    }
}

}  // namespace

TEST(RandomFrames, TheSameSeedAndIndexGiveTheSameBytesAnywhere)
{
    EXPECT_EQ(split_mix(1).next(), 0x910A2DEC89025CC1ull);  // SplitMix64's published first value for seed 1
    const test_frame a = random_frame(12345, 17);
    const test_frame b = random_frame(12345, 17);
    EXPECT_EQ(a.stream, b.stream);
    EXPECT_EQ(a.count, b.count);
    EXPECT_EQ(a.time_step, b.time_step);
    EXPECT_NE(random_frame(12346, 17).stream, a.stream);
    EXPECT_NE(random_frame(12345, 18).stream, a.stream);
    EXPECT_NE(a.what.find("17"), std::string::npos);
}

TEST(RandomFrames, AreWellFormedAndVaried)
{
    std::set<int> types;
    std::size_t empty = 0, large = 0;
    for (std::uint64_t i = 0; i < 400; ++i) {
        const test_frame frame = random_frame(7, i);
        expect_well_formed(frame);
        empty += frame.count == 0 ? 1 : 0;
        large += frame.count > 100 ? 1 : 0;
        tm_message_list messages;
        std::string error;
        tools::decode_stream(frame.stream.data(), frame.stream.size(), frame.count, messages, error);
        for (const tm_external_message& m : messages) types.insert(static_cast<int>(m.Header.DataType));
    }
    EXPECT_GT(empty, 10u);
    EXPECT_GT(large, 40u);
    EXPECT_GT(types.size(), 100u);  // the eight types and many unknown ones
}

TEST(EdgeFrames, WellFormedOnesHoldExactlyTheirMessages)
{
    for (const auto& frames : {data_type_frames(), unknown_identifier_frames(), special_value_frames()})
        for (const test_frame& frame : frames) expect_well_formed(frame);
    const test_frame large = large_frame(10000, 3);
    EXPECT_EQ(large.count, 10000u);
    expect_well_formed(large);

    std::set<int> types;
    for (const test_frame& frame : data_type_frames()) {
        tm_message_list messages;
        std::string error;
        tools::decode_stream(frame.stream.data(), frame.stream.size(), frame.count, messages, error);
        for (const tm_external_message& m : messages) types.insert(static_cast<int>(m.Header.DataType));
    }
    EXPECT_EQ(types, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7}));

    const test_frame nan_frame = special_value_frames().front();
    double time = 0.0;
    std::memcpy(&time, nan_frame.stream.data() + 64, sizeof time);
    EXPECT_TRUE(std::isnan(time));
}

TEST(EdgeFrames, SizesSitInABufferThatHoldsEveryReading)
{
    const std::vector<test_frame> frames = size_frames();
    ASSERT_EQ(frames.size(), 14u);
    std::set<int> sizes;
    for (const test_frame& frame : frames) {
        const std::uint16_t size = tm_msg_detail::peek_size(frame.stream.data());
        sizes.insert(size);
        // A reader that follows Size, and one that takes a whole 128-byte
        // record for a Size below 64 or above 128, both stay inside.
        const std::size_t exact = size < 64 ? 64 : size;
        const std::size_t whole = size < 64 || size > 128 ? 128 : size;
        const std::size_t next = frame.count == 2 ? 72 : 0;
        EXPECT_GE(frame.stream.size(), std::max(exact, whole) + next + 128) << frame.what;
        if (frame.count == 2) {  // the simulation time follows where Size says
            std::uint32_t position = static_cast<std::uint32_t>(exact);
            const tm_external_message after = read_message(frame.stream.data(), position);
            EXPECT_EQ(after.GetID(), tm_msg_id("Simulation.Time").GetValue()) << frame.what;
            EXPECT_EQ(after.GetDouble(), 3.25);
        }
    }
    EXPECT_EQ(sizes, (std::set<int>{0, 63, 64, 65, 128, 129, 65535}));
}
