// A recording flown by the checks: the survey finds the frames up to the last
// good one whatever the damage, and the flight gives exactly those, round and
// round, or says that the file changed.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <skarvel/shared/input/tm_msg_id.h>

#include "tools/common/frame_recording.h"
#include "tools/common/message_builder.h"
#include "tools/common/stream_encoding.h"
#include "tools/validate/recorded_flight.h"

using namespace validate;

namespace {

// Three small frames, each a simulation time and an altitude; the offset of
// each frame's first byte, and the file's length after it.
struct sample_recording {
    std::string bytes;
    std::vector<std::size_t> frame_starts;
};

sample_recording three_frames()
{
    std::ostringstream out;
    sample_recording sample;
    tools::write_recording_header(out);
    for (int i = 0; i < 3; ++i) {
        sample.frame_starts.push_back(static_cast<std::size_t>(out.tellp()));
        const tm_message_list messages = {tools::make_double(tm_msg_id("Simulation.Time"), i * 0.25),
                                          tools::make_double(tm_msg_id("Aircraft.Altitude"), 100.0 + i)};
        std::vector<std::uint8_t> stream;
        tools::encode_stream(messages, stream);
        tools::write_recorded_frame(out, 0.25, 2, stream.data(), stream.size());
    }
    sample.frame_starts.push_back(static_cast<std::size_t>(out.tellp()));
    sample.bytes = out.str();
    return sample;
}

std::string write_file(const std::string& name, const std::string& bytes)
{
    std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

// The number of whole frames in the first `length` bytes.
std::uint64_t whole_frames(const sample_recording& sample, std::size_t length)
{
    std::uint64_t frames = 0;
    while (frames + 1 < sample.frame_starts.size() && sample.frame_starts[frames + 1] <= length) ++frames;
    return frames;
}

// The frame (from 1) that holds byte `at`; 0 for the file header.
std::uint64_t frame_holding(const sample_recording& sample, std::size_t at)
{
    std::uint64_t frame = 0;
    while (frame < sample.frame_starts.size() - 1 && sample.frame_starts[frame] <= at) ++frame;
    return frame;
}

}  // namespace

TEST(RecordingSurvey, ACutFileIsUsedUpToItsLastWholeFrameOrRefusedWithOneSentence)
{
    const sample_recording sample = three_frames();
    for (std::size_t length = 0; length <= sample.bytes.size(); ++length) {
        const std::string path = write_file("survey_cut.skvrec", sample.bytes.substr(0, length));
        recording_survey survey;
        std::string error;
        const bool usable = survey_recording(path, recording_frame_limit, survey, error);
        const std::uint64_t expected = whole_frames(sample, length);
        SCOPED_TRACE("cut after " + std::to_string(length) + " bytes");
        EXPECT_EQ(usable, expected > 0) << error;
        if (!usable) {
            EXPECT_EQ(error.find('\n'), std::string::npos);
            EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
            continue;
        }
        EXPECT_EQ(survey.frames, expected);
        EXPECT_DOUBLE_EQ(survey.seconds, 0.25 * static_cast<double>(expected));
        const bool at_a_frame_end = sample.frame_starts[expected] == length;
        EXPECT_EQ(survey.damage.empty(), at_a_frame_end) << survey.damage;
        if (!at_a_frame_end) {
            EXPECT_NE(survey.damage.find("frame " + std::to_string(expected + 1) + " (at byte "), std::string::npos)
                << survey.damage;
        }
    }
}

TEST(RecordingSurvey, AFlippedBitEndsTheFlightBeforeItsFrame)
{
    const sample_recording sample = three_frames();
    for (std::size_t at = 0; at < sample.bytes.size(); ++at) {
        for (int bit = 0; bit < 8; ++bit) {
            std::string bytes = sample.bytes;
            bytes[at] = static_cast<char>(bytes[at] ^ (1 << bit));
            const std::string path = write_file("survey_flipped.skvrec", bytes);
            recording_survey survey;
            std::string error;
            const bool usable = survey_recording(path, recording_frame_limit, survey, error);
            const std::uint64_t damaged = frame_holding(sample, at);
            ASSERT_EQ(usable, damaged > 1) << "byte " << at << " bit " << bit << ": " << error;
            if (usable) {
                ASSERT_EQ(survey.frames, damaged - 1) << "byte " << at << " bit " << bit;
                ASSERT_FALSE(survey.damage.empty());
            }
        }
    }
}

TEST(RecordingSurvey, NamesWhatItUsesAndStopsAtTheLimit)
{
    const sample_recording sample = three_frames();
    const std::string path = write_file("survey_limit.skvrec", sample.bytes);
    recording_survey survey;
    std::string error;
    ASSERT_TRUE(survey_recording(path, 3, survey, error)) << error;
    EXPECT_EQ(describe_survey("r.skvrec", survey), "all 3 frames (0.8 s of flight) of r.skvrec");
    ASSERT_TRUE(survey_recording(path, 2, survey, error)) << error;
    EXPECT_EQ(survey.frames, 2u);
    EXPECT_TRUE(survey.beyond_limit);
    EXPECT_EQ(describe_survey("r.skvrec", survey),
              "the first 2 frames (0.5 s of flight) of r.skvrec; the frames after them are not read");

    const std::string cut = write_file("survey_named.skvrec", sample.bytes.substr(0, sample.bytes.size() - 1));
    ASSERT_TRUE(survey_recording(cut, recording_frame_limit, survey, error)) << error;
    EXPECT_EQ(
        describe_survey("r.skvrec", survey),
        "the first 2 frames (0.5 s of flight) of r.skvrec; frame 3 (at byte " + std::to_string(sample.frame_starts[2]) +
            "): truncated: " + std::to_string(sample.frame_starts[3] - sample.frame_starts[2] - 4) +
            " bytes expected after its length, " + std::to_string(sample.frame_starts[3] - sample.frame_starts[2] - 5) +
            " present, so the frames from there on are not used");

    EXPECT_FALSE(survey_recording(::testing::TempDir() + "no_such.skvrec", 10, survey, error));
    EXPECT_NE(error.find("cannot open "), std::string::npos) << error;
    EXPECT_FALSE(survey_recording(write_file("survey_empty.skvrec", sample.bytes.substr(0, 16)), 10, survey, error));
    EXPECT_NE(error.find(": the recording holds no frame"), std::string::npos) << error;
}

TEST(RecordedFlight, GivesTheSurveyedFramesRoundAndRoundAndSaysWhenTheFileChanged)
{
    const sample_recording sample = three_frames();
    const std::string path = write_file("flight_round.skvrec", sample.bytes);
    recorded_flight flight;
    std::string error;
    ASSERT_TRUE(flight.open(path, 2, error)) << error;
    tools::recorded_frame frame;
    std::vector<std::uint64_t> numbers;
    std::vector<std::vector<std::uint8_t>> streams;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(flight.next(frame, error)) << error;
        numbers.push_back(flight.frame_number());
        streams.push_back(frame.stream);
        EXPECT_EQ(frame.message_count, 2u);
        EXPECT_EQ(frame.time_step, 0.25);
    }
    EXPECT_EQ(numbers, (std::vector<std::uint64_t>{1, 2, 1, 2, 1}));
    EXPECT_EQ(streams[0], streams[2]);
    EXPECT_NE(streams[0], streams[1]);

    // The file loses its second frame during the run.
    write_file("flight_round.skvrec", sample.bytes.substr(0, sample.frame_starts[1] + 7));
    ASSERT_TRUE(flight.open(path, 2, error)) << error;
    ASSERT_TRUE(flight.next(frame, error)) << error;
    EXPECT_FALSE(flight.next(frame, error));
    EXPECT_EQ(error.rfind(path + " changed during the run: frame 2 (at byte ", 0), 0u) << error;
    EXPECT_FALSE(flight.next(frame, error));
}
