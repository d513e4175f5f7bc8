// The recorder writes what the host sent, byte for byte, in the host
// simulator's recording format; it never writes over a file, never fills a
// disk, and ends a recording that cannot go on at its last whole frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#endif

#include "recorder/flight_recorder.h"
#include "tests/support/failing_new.h"
#include "tools/common/flight_scenario.h"
#include "tools/common/frame_recording.h"
#include "tools/common/scratch_folder.h"
#include "tools/common/stream_encoding.h"

namespace {

using recorder::flight_recorder;
using recorder::recorder_limits;

struct sent_frame {
    double time_step = 1.0 / 60.0;
    std::uint32_t count = 0;
    std::vector<std::uint8_t> stream;
};

// The built-in flight's frames, with an empty one (no stream at all) among them.
std::vector<sent_frame> flight(int count)
{
    std::vector<sent_frame> frames;
    tools::flight_scenario scenario;
    tm_message_list messages;
    for (int i = 0; i < count; ++i) {
        sent_frame f;
        if (i != 3) {
            tools::make_scenario_frame(scenario.state(), messages);
            tools::encode_stream(messages, f.stream);
            f.count = static_cast<std::uint32_t>(messages.size());
        }
        frames.push_back(std::move(f));
        scenario.advance(1.0 / 60.0);
    }
    return frames;
}

void send(flight_recorder& recorder, const std::vector<sent_frame>& frames)
{
    for (const sent_frame& f : frames)
        recorder.record(f.time_step, f.stream.empty() ? nullptr : f.stream.data(), f.count);
}

// The file the host simulator's --record makes of the first `count` frames.
std::string as_recorded_by_the_host(const std::vector<sent_frame>& frames, std::size_t count)
{
    std::ostringstream out;
    tools::write_recording_header(out);
    for (std::size_t i = 0; i < count; ++i)
        tools::write_recorded_frame(out, frames[i].time_step, frames[i].count, frames[i].stream.data(),
                                    frames[i].stream.size());
    return out.str();
}

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool exists(const std::string& path)
{
    return std::ifstream(path).good();
}

constexpr recorder::local_time take_off{2024, 5, 1, 14, 30, 12};

class FlightRecorder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch.make("recorder-test", error)) << error; }
    void TearDown() override
    {
        recorder.stop();
        scratch.leave(true, error);
    }
    std::string in_folder(const std::string& name) const { return scratch.path() + recorder::folder_separator + name; }

    tools::scratch_folder scratch;
    std::string error;
    flight_recorder recorder;
};

TEST_F(FlightRecorder, WritesWhatTheHostSentByteForByteWithoutAllocatingInUpdate)
{
    const std::vector<sent_frame> frames = flight(600);
    const std::string folder = in_folder("nested") + recorder::folder_separator + "recordings";
    recorder_limits roomy;
    roomy.queue_frames = 1024;  // the whole flight, posted faster than any disk takes it
    ASSERT_TRUE(recorder.start(folder, take_off, error, roomy)) << error;
    EXPECT_EQ(recorder.path(), folder + recorder::folder_separator + "flight-2024-05-01_14-30-12.skvrec");

    const std::size_t before = forbidden_heap_calls();
    forbid_heap_on_this_thread(true);
    send(recorder, frames);
    forbid_heap_on_this_thread(false);
    EXPECT_EQ(forbidden_heap_calls() - before, 0u) << "Update allocated or freed";

    const std::string said = recorder.stop();
    EXPECT_EQ(contents(recorder.path()), as_recorded_by_the_host(frames, frames.size()));
    const std::string line = "2024-05-01 14:30:12 flight-2024-05-01_14-30-12.skvrec: 600 frames, ";
    EXPECT_EQ(said.rfind(line, 0), 0u) << said;
    EXPECT_EQ(contents(folder + recorder::folder_separator + "recorder.log").rfind(line, 0), 0u);
}

TEST_F(FlightRecorder, NeverWritesOverAFileAndLeavesNothingOfARunWithoutFrames)
{
    const std::string taken = in_folder("flight-2024-05-01_14-30-12.skvrec");
    std::ofstream(taken) << "the user's own file";
    ASSERT_TRUE(recorder.start(scratch.path(), take_off, error)) << error;
    EXPECT_EQ(recorder.path(), in_folder("flight-2024-05-01_14-30-12-2.skvrec"));
    EXPECT_TRUE(recorder.start(scratch.path(), take_off, error)) << "a second Init goes on with the first run";
    EXPECT_EQ(recorder.path(), in_folder("flight-2024-05-01_14-30-12-2.skvrec"));
    EXPECT_EQ(recorder.stop(), "");
    EXPECT_EQ(recorder.stop(), "");
    EXPECT_FALSE(exists(recorder.path())) << "a run without frames leaves no file";
    EXPECT_FALSE(exists(in_folder("recorder.log")));
    EXPECT_EQ(contents(taken), "the user's own file");

    // Update before Init and after Shutdown records nothing.
    const std::vector<sent_frame> frames = flight(2);
    send(recorder, frames);
    EXPECT_FALSE(exists(in_folder("flight-2024-05-01_14-30-12-3.skvrec")));
}

TEST_F(FlightRecorder, RefusesAFolderItCannotMakeAndADiskWithoutRoom)
{
    std::ofstream(in_folder("a_file")) << "in the way";
    EXPECT_FALSE(recorder.start(in_folder("a_file") + recorder::folder_separator + "recordings", take_off, error));
    EXPECT_NE(error.find("a_file"), std::string::npos) << error;
    EXPECT_FALSE(recorder.running());

    recorder_limits no_room;
    no_room.keep_free = std::uint64_t{1} << 62;
    EXPECT_FALSE(recorder.start(scratch.path(), take_off, error, no_room));
    EXPECT_NE(error.find("free, less than the 4194304 TiB the recorder leaves free"), std::string::npos) << error;
    EXPECT_FALSE(exists(in_folder("flight-2024-05-01_14-30-12.skvrec"))) << "nothing left behind";
    EXPECT_FALSE(recorder.running());
}

TEST_F(FlightRecorder, EndsAtTheCapOnAWholeFrameAndTakesFramesOn)
{
    const std::vector<sent_frame> frames = flight(40);
    const std::string ten = as_recorded_by_the_host(frames, 10);
    recorder_limits small;
    small.recording_cap = ten.size() + 100;  // room for 10 frames and a little
    ASSERT_TRUE(recorder.start(scratch.path(), take_off, error, small)) << error;
    send(recorder, frames);
    const std::string said = recorder.stop();
    EXPECT_EQ(contents(recorder.path()), ten);
    EXPECT_NE(said.find("10 frames"), std::string::npos) << said;
    EXPECT_NE(said.find("stopped at frame 11: reached the recorder's cap of "), std::string::npos) << said;
}

#if !defined(_WIN32)
// A disk that fills mid-flight, made by a limit on the size of the files
// this process writes (the file system says "File too large" as it would
// say "No space left on device").
TEST_F(FlightRecorder, FullDiskMidFlightKeepsTheWholeFramesBeforeIt)
{
    const std::vector<sent_frame> frames = flight(40);
    const std::string five = as_recorded_by_the_host(frames, 5);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit full = before;
    full.rlim_cur = five.size() + 1000;  // frame 6 is cut off by the disk, part written
    ASSERT_TRUE(recorder.start(scratch.path(), take_off, error)) << error;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    send(recorder, frames);
    const std::string said = recorder.stop();
    setrlimit(RLIMIT_FSIZE, &before);

    EXPECT_EQ(contents(recorder.path()), five) << "cut back to the last whole frame";
    EXPECT_NE(said.find("5 frames"), std::string::npos) << said;
    EXPECT_NE(said.find("stopped at frame 6: writing failed: File too large"), std::string::npos) << said;
}
#endif

TEST(RecordingName, DateAndTimeThenAttempt)
{
    EXPECT_EQ(recorder::recording_name({2031, 12, 9, 4, 5, 6}, 1), "flight-2031-12-09_04-05-06.skvrec");
    EXPECT_EQ(recorder::recording_name({2031, 12, 9, 4, 5, 6}, 12), "flight-2031-12-09_04-05-06-12.skvrec");
    EXPECT_EQ(recorder::describe_bytes(1023), "1023 bytes");
    EXPECT_EQ(recorder::describe_bytes(std::uint64_t{2} << 30), "2 GiB");
    EXPECT_EQ(recorder::describe_bytes(3174400), "3.0 MiB");
}

}  // namespace
