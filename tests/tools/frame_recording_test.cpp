// The recording format: what the host writes reads back byte for byte, and
// every damaged file ends in an error that names its frame, never a crash.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <skarvel/shared/input/tm_byte_order.h>
#include <skarvel/shared/input/tm_msg_id.h>

#include "tools/common/crc32.h"
#include "tools/common/flight_scenario.h"
#include "tools/common/frame_recording.h"
#include "tools/common/message_builder.h"
#include "tools/common/stream_encoding.h"

namespace {

struct sample_frame {
    double time_step;
    tm_message_list messages;
    std::vector<std::uint8_t> stream;
};

std::vector<sample_frame> scenario_frames(int count)
{
    std::vector<sample_frame> frames;
    tools::flight_scenario scenario;
    for (int i = 0; i < count; ++i) {
        sample_frame f{1.0 / 60.0, {}, {}};
        tools::make_scenario_frame(scenario.state(), f.messages);
        tools::encode_stream(f.messages, f.stream);
        frames.push_back(std::move(f));
        scenario.advance(1.0 / 60.0);
    }
    return frames;
}

std::string record(const std::vector<sample_frame>& frames)
{
    std::ostringstream out;
    EXPECT_TRUE(tools::write_recording_header(out));
    for (const sample_frame& f : frames)
        EXPECT_TRUE(tools::write_recorded_frame(out, f.time_step, static_cast<std::uint32_t>(f.messages.size()),
                                                f.stream.data(), f.stream.size()));
    return out.str();
}

// Reads a whole file; returns the frames read and the error, if any.
struct read_outcome {
    std::vector<tools::recorded_frame> frames;
    std::string error;
    bool opened = false;
    bool cut_short = false;
};

read_outcome read_all(const std::string& bytes)
{
    read_outcome outcome;
    std::istringstream in(bytes);
    tools::recording_reader reader(in);
    outcome.opened = reader.open(outcome.error);
    if (!outcome.opened) return outcome;
    tools::recorded_frame frame;
    tm_message_list messages;
    for (;;) {
        const auto r = reader.next(frame, messages, outcome.error);
        if (r != tools::recording_reader::result::frame) break;
        outcome.frames.push_back(frame);
    }
    outcome.cut_short = reader.cut_short();
    return outcome;
}

// Rewrites a frame's checksum after its payload was edited on purpose.
void reseal(std::string& bytes, std::size_t frame_start)
{
    auto* p = reinterpret_cast<std::uint8_t*>(bytes.data());
    const std::uint32_t length = tm_byte_order::load_u32_le(p + frame_start);
    tm_byte_order::store_u32_le(p + frame_start + 4 + length, tools::crc32(p + frame_start + 4, length));
}

}  // namespace

TEST(FrameRecording, RoundTripKeepsEveryByteTimeStepAndCount)
{
    const std::vector<sample_frame> frames = scenario_frames(5);
    const read_outcome outcome = read_all(record(frames));
    ASSERT_TRUE(outcome.opened) << outcome.error;
    EXPECT_EQ(outcome.error, "");
    ASSERT_EQ(outcome.frames.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(outcome.frames[i].time_step, frames[i].time_step);
        EXPECT_EQ(outcome.frames[i].message_count, frames[i].messages.size());
        EXPECT_EQ(outcome.frames[i].stream, frames[i].stream) << "frame " << i + 1;
    }
}

TEST(FrameRecording, HeaderIsMagicVersionAndFlags)
{
    const std::string bytes = record({});
    ASSERT_EQ(bytes.size(), tools::recording_header_size);
    EXPECT_EQ(bytes.substr(0, 8), "SKVREC\r\n");
    EXPECT_EQ(bytes.substr(8, 8), std::string("\x01\0\0\0\0\0\0\0", 8));
    const read_outcome outcome = read_all(bytes);
    EXPECT_TRUE(outcome.opened);
    EXPECT_TRUE(outcome.frames.empty());
    EXPECT_EQ(outcome.error, "");
}

TEST(FrameRecording, EmptyFramesAndOddSizedMessagesRoundTrip)
{
    tm_message_list odd{tools::make_string8(tm_msg_id("Aircraft.NearestAirport"), "ABCDE"),
                        tools::make_double(tm_msg_id("Simulation.Time"), 2.5)};
    std::vector<std::uint8_t> stream;
    tools::encode_stream(odd, stream);
    ASSERT_EQ(stream.size(), 70u + 72u);  // the second header starts at an odd offset

    std::ostringstream out;
    tools::write_recording_header(out);
    tools::write_recorded_frame(out, 0.0, 0, nullptr, 0);
    tools::write_recorded_frame(out, 0.02, 2, stream.data(), stream.size());
    const read_outcome outcome = read_all(out.str());
    ASSERT_EQ(outcome.frames.size(), 2u) << outcome.error;
    EXPECT_EQ(outcome.frames[0].message_count, 0u);
    EXPECT_TRUE(outcome.frames[0].stream.empty());
    EXPECT_EQ(outcome.frames[1].stream, stream);
}

TEST(FrameRecording, EveryTruncationIsAnErrorNamingItsFrameUnlessAtAFrameEnd)
{
    const std::vector<sample_frame> frames = scenario_frames(3);
    const std::string whole = record(frames);
    std::vector<std::size_t> frame_ends{tools::recording_header_size};
    for (const sample_frame& f : frames) frame_ends.push_back(frame_ends.back() + 4 + 12 + f.stream.size() + 4);
    ASSERT_EQ(frame_ends.back(), whole.size());

    for (std::size_t cut = tools::recording_header_size; cut < whole.size(); ++cut) {
        const read_outcome outcome = read_all(whole.substr(0, cut));
        std::size_t whole_frames = 0;
        while (whole_frames + 1 < frame_ends.size() && frame_ends[whole_frames + 1] <= cut) ++whole_frames;
        ASSERT_EQ(outcome.frames.size(), whole_frames) << "cut at " << cut;
        const bool at_boundary = frame_ends[whole_frames] == cut;
        EXPECT_EQ(outcome.cut_short, !at_boundary) << "cut at " << cut;
        if (at_boundary) {
            EXPECT_EQ(outcome.error, "") << "cut at " << cut;
        } else {
            const std::string expected = "frame " + std::to_string(whole_frames + 1) + " (at byte " +
                                         std::to_string(frame_ends[whole_frames]) + "): truncated";
            EXPECT_EQ(outcome.error.rfind(expected, 0), 0u) << "cut at " << cut << ": " << outcome.error;
        }
    }
}

TEST(FrameRecording, FlippedBitIsAChecksumError)
{
    const std::vector<sample_frame> frames = scenario_frames(3);
    const std::string whole = record(frames);
    const std::size_t second = tools::recording_header_size + 4 + 12 + frames[0].stream.size() + 4;
    std::string damaged = whole;
    damaged[second + 4 + 12 + 100] ^= 0x10;  // a value byte inside frame 2
    const read_outcome outcome = read_all(damaged);
    EXPECT_EQ(outcome.frames.size(), 1u);
    EXPECT_EQ(outcome.error, "frame 2 (at byte " + std::to_string(second) + "): corrupt: checksum mismatch");
    EXPECT_FALSE(outcome.cut_short);
}

TEST(FrameRecording, HeaderFaultsAreRefused)
{
    EXPECT_EQ(read_all("").error, "the file is empty, not a frame recording");
    EXPECT_EQ(read_all("SKVREC\r").error, "not a frame recording (no \"SKVREC\" header)");
    std::string text_mangled = record({});
    text_mangled.replace(6, 2, "\n\0", 2);  // a text-mode copy turned \r\n into \n
    EXPECT_FALSE(read_all(text_mangled).opened);

    std::string newer = record({});
    newer[8] = 2;
    EXPECT_EQ(read_all(newer).error, "recording format version 2 is not supported (this reader knows 1)");
    std::string flagged = record({});
    flagged[12] = 1;
    EXPECT_FALSE(read_all(flagged).opened);
}

TEST(FrameRecording, ImplausibleLengthIsRefusedBeforeAnyAllocation)
{
    for (std::uint32_t length : {0u, 11u, tools::recording_max_payload + 1, 0xFFFFFFFFu}) {
        std::string bytes = record({});
        std::uint8_t prefix[4];
        tm_byte_order::store_u32_le(prefix, length);
        bytes.append(reinterpret_cast<const char*>(prefix), 4);
        const read_outcome outcome = read_all(bytes);
        EXPECT_EQ(outcome.error.rfind("frame 1 (at byte 16): corrupt: payload length " + std::to_string(length), 0), 0u)
            << outcome.error;
    }
}

TEST(FrameRecording, CountThatTheStreamCannotHoldIsCorruptEvenWithAGoodChecksum)
{
    const std::vector<sample_frame> frames = scenario_frames(1);
    std::string bytes = record(frames);
    auto* p = reinterpret_cast<std::uint8_t*>(bytes.data());
    const auto count = static_cast<std::uint32_t>(frames[0].messages.size());

    std::string more = bytes;
    tm_byte_order::store_u32_le(reinterpret_cast<std::uint8_t*>(more.data()) + 16 + 4 + 8, count + 1);
    reseal(more, 16);
    EXPECT_EQ(read_all(more).error.rfind("frame 1 (at byte 16): corrupt: message " + std::to_string(count + 1) +
                                             " of " + std::to_string(count + 1) + " runs past the end",
                                         0),
              0u)
        << read_all(more).error;

    std::string fewer = bytes;
    tm_byte_order::store_u32_le(reinterpret_cast<std::uint8_t*>(fewer.data()) + 16 + 4 + 8, count - 1);
    reseal(fewer, 16);
    EXPECT_NE(read_all(fewer).error.find("bytes follow the last of the"), std::string::npos);

    // A Size field that makes the first message swallow the whole stream.
    tm_byte_order::store_u16_le(p + 16 + 4 + 12 + 2, 0xFFFF);
    reseal(bytes, 16);
    EXPECT_NE(read_all(bytes).error.find("corrupt: message 1 of"), std::string::npos);
}

TEST(FrameRecording, NonFiniteTimeStepIsCorrupt)
{
    std::ostringstream out;
    tools::write_recording_header(out);
    tools::write_recorded_frame(out, std::numeric_limits<double>::quiet_NaN(), 0, nullptr, 0);
    EXPECT_EQ(read_all(out.str()).error, "frame 1 (at byte 16): corrupt: the time step is not a finite number");
}

TEST(FrameRecording, ReaderStaysFailedAfterAnError)
{
    std::string bytes = record(scenario_frames(2));
    bytes[16 + 30] ^= 1;
    std::istringstream in(bytes);
    tools::recording_reader reader(in);
    std::string error;
    ASSERT_TRUE(reader.open(error));
    tools::recorded_frame frame;
    tm_message_list messages;
    EXPECT_EQ(reader.next(frame, messages, error), tools::recording_reader::result::error);
    EXPECT_EQ(reader.next(frame, messages, error), tools::recording_reader::result::error);
    EXPECT_EQ(reader.frames_read(), 0u);
}

TEST(FrameRecording, WriterReportsAFailedStream)
{
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    EXPECT_FALSE(tools::write_recording_header(out));
    std::ostringstream big;
    std::vector<std::uint8_t> huge(tools::recording_max_payload);
    EXPECT_FALSE(tools::write_recorded_frame(big, 0.01, 1, huge.data(), huge.size()));
}

TEST(FrameRecording, Crc32MatchesTheStandardCheckValue)
{
    const char* check = "123456789";
    EXPECT_EQ(tools::crc32(reinterpret_cast<const std::uint8_t*>(check), 9), 0xCBF43926u);
    // Continuing over two halves gives the same as one pass.
    const std::uint32_t half = tools::crc32(reinterpret_cast<const std::uint8_t*>(check), 4);
    EXPECT_EQ(tools::crc32(reinterpret_cast<const std::uint8_t*>(check) + 4, 5, half), 0xCBF43926u);
}

TEST(FrameRecording, RandomDamageNeverGetsPastTheChecks)
{
    // Bytes changed at random, with the checksums made right again so the
    // structural checks are reached: every frame read holds exactly its
    // counted messages, and every failure is a sentence naming a frame.
    const std::vector<sample_frame> frames = scenario_frames(3);
    const std::string whole = record(frames);
    std::vector<std::size_t> starts{tools::recording_header_size};
    for (const sample_frame& f : frames) starts.push_back(starts.back() + 4 + 12 + f.stream.size() + 4);
    starts.pop_back();
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int round = 0; round < 400; ++round) {
        std::string damaged = whole;
        const std::size_t frame = next() % starts.size();
        const std::size_t length = 4 + 12 + frames[frame].stream.size();
        for (int k = 0; k < 3; ++k) damaged[starts[frame] + 4 + next() % (length - 4)] = static_cast<char>(next());
        if (round % 2) reseal(damaged, starts[frame]);
        const read_outcome outcome = read_all(damaged);
        for (const tools::recorded_frame& f : outcome.frames) {
            tm_message_list messages;
            std::string error;
            EXPECT_TRUE(tools::decode_stream(f.stream.data(), f.stream.size(), f.message_count, messages, error));
        }
        if (!outcome.error.empty()) {
            EXPECT_EQ(outcome.error.rfind("frame " + std::to_string(frame + 1) + " (at byte ", 0), 0u) << outcome.error;
        }
    }
}
