// The host's session over stand-in entry points: the order of calls, the
// checks on the plug-in, and recording and replay of what it was sent.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <skarvel/shared/input/tm_message_stream.h>

#include "tools/common/frame_recording.h"
#include "tools/common/stream_encoding.h"
#include "tools/host/host_options.h"
#include "tools/host/host_session.h"

namespace {

// A stand-in plug-in that records what the host does to it.
struct fake_plugin {
    static inline std::int64_t version = 2;
    static inline bool init_answer = true;
    static inline bool leave_outputs = false;
    static inline std::vector<std::string> calls;
    static inline std::vector<std::vector<std::uint8_t>> streams;
    static inline std::vector<double> time_steps;

    static void reset()
    {
        version = 2;
        init_answer = true;
        leave_outputs = false;
        calls.clear();
        streams.clear();
        time_steps.clear();
    }
    static std::int64_t get_version() { return version; }
    static bool init(void*)
    {
        calls.emplace_back("Init");
        return init_answer;
    }
    static void update(double time_step, const std::uint8_t* stream, std::int32_t, std::uint32_t count, void*,
                       std::int32_t* out1, std::int32_t* out2)
    {
        calls.emplace_back("Update");
        // Read the stream as the plug-in does: unbounded, trusting the count.
        std::uint32_t position = 0;
        for (std::uint32_t i = 0; i < count; ++i) read_message(stream, position);
        streams.emplace_back(stream, stream + position);
        time_steps.push_back(time_step);
        if (!leave_outputs) *out1 = *out2 = 0;
    }
    static void shutdown() { calls.emplace_back("Shutdown"); }
    static plugin_interface::entry_points entry_points() { return {get_version, init, update, shutdown}; }
};

tools::session_settings unpaced(std::uint64_t frames)
{
    tools::session_settings settings;
    settings.paced = false;
    settings.max_frames = frames;
    return settings;
}

}  // namespace

class HostSession : public ::testing::Test {
protected:
    void SetUp() override { fake_plugin::reset(); }
};

TEST_F(HostSession, InitUpdatesThenShutdown)
{
    tools::scenario_source source(60.0);
    const tools::session_result r = tools::run_session(fake_plugin::entry_points(), source, unpaced(3));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.frames, 3u);
    EXPECT_EQ(fake_plugin::calls, (std::vector<std::string>{"Init", "Update", "Update", "Update", "Shutdown"}));
    EXPECT_EQ(r.nonzero_outputs, 0u);
    EXPECT_EQ(r.messages, 3 * (r.messages / 3));
    EXPECT_GE(r.messages / 3, 38u);
    EXPECT_DOUBLE_EQ(fake_plugin::time_steps[0], 1.0 / 60.0);
}

TEST_F(HostSession, StartPointFliesTheFlightUpToIt)
{
    tools::scenario_source source(50.0, 12.0);
    ASSERT_TRUE(tools::run_session(fake_plugin::entry_points(), source, unpaced(1)).ok);
    ASSERT_EQ(fake_plugin::streams.size(), 1u);
    tm_message_list frame;
    std::string error;
    const auto& stream = fake_plugin::streams[0];
    ASSERT_TRUE(tools::decode_stream(stream.data(), stream.size(), 41, frame, error)) << error;
    EXPECT_NEAR(frame[0].GetDouble(), 12.0, 1e-9);  // Simulation.Time comes first
    tools::flight_scenario flown;
    for (int i = 0; i < 600; ++i) flown.advance(0.02);
    EXPECT_EQ(frame[10].GetVector3d().x, flown.state().velocity.x);  // Aircraft.Velocity
}

TEST_F(HostSession, WrongVersionStopsBeforeInit)
{
    fake_plugin::version = 3;
    tools::scenario_source source(60.0);
    const tools::session_result r = tools::run_session(fake_plugin::entry_points(), source, unpaced(3));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "the plug-in answers interface version 3, expected 2");
    EXPECT_TRUE(fake_plugin::calls.empty());

    // The version is read as all 64 bits: 2 in the low half alone is not 2.
    fake_plugin::version = (std::int64_t{1} << 32) | 2;
    const tools::session_result wide = tools::run_session(fake_plugin::entry_points(), source, unpaced(3));
    EXPECT_EQ(wide.error, "the plug-in answers interface version 4294967298, expected 2");
    EXPECT_TRUE(fake_plugin::calls.empty());
}

TEST_F(HostSession, InitAnsweringFalseStopsTheRun)
{
    fake_plugin::init_answer = false;
    tools::scenario_source source(60.0);
    const tools::session_result r = tools::run_session(fake_plugin::entry_points(), source, unpaced(3));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(fake_plugin::calls, (std::vector<std::string>{"Init"}));
}

TEST_F(HostSession, OutputsLeftUnsetAreCounted)
{
    fake_plugin::leave_outputs = true;
    tools::scenario_source source(60.0);
    const tools::session_result r = tools::run_session(fake_plugin::entry_points(), source, unpaced(4));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.nonzero_outputs, 4u);
}

TEST_F(HostSession, PacedRunKeepsTheRateAndTheDurationLimit)
{
    tools::scenario_source source(100.0);
    tools::session_settings settings;
    settings.rate = 100.0;
    settings.max_seconds = 0.5;
    const tools::session_result r = tools::run_session(fake_plugin::entry_points(), source, settings);
    ASSERT_TRUE(r.ok);
    EXPECT_GE(r.seconds, 0.5);
    EXPECT_GE(r.frames, 20u);  // 50 on an idle machine; a loaded one loses some, never adds
    EXPECT_LE(r.frames, 51u);
}

TEST_F(HostSession, StopRequestEndsTheRunWithShutdown)
{
    std::atomic<bool> stop{false};
    tools::scenario_source source(60.0);
    tools::session_settings settings = unpaced(1000);
    settings.stop = &stop;
    settings.on_status = [&](std::uint64_t frames, double) {
        if (frames >= 1) stop = true;
    };
    const tools::session_result r = tools::run_session(fake_plugin::entry_points(), source, settings);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.frames, 1u);
    EXPECT_EQ(fake_plugin::calls.back(), "Shutdown");
}

TEST_F(HostSession, RecordingReplaysTheSameFrames)
{
    const std::string path = ::testing::TempDir() + "host_session_recording.skvrec";
    {
        std::ofstream out(path, std::ios::binary);
        ASSERT_TRUE(tools::write_recording_header(out));
        tools::scenario_source source(50.0);
        tools::session_settings settings = unpaced(20);
        settings.record = &out;
        ASSERT_TRUE(tools::run_session(fake_plugin::entry_points(), source, settings).ok);
    }
    const auto sent = fake_plugin::streams;
    const auto sent_steps = fake_plugin::time_steps;
    fake_plugin::reset();

    tools::replay_source replay;
    std::string error;
    ASSERT_TRUE(replay.open(path, error)) << error;
    tools::session_settings settings = unpaced(1000);
    const tools::session_result r = tools::run_session(fake_plugin::entry_points(), replay, settings);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.frames, 20u);  // ends with the file
    EXPECT_EQ(fake_plugin::streams, sent);
    EXPECT_EQ(fake_plugin::time_steps, sent_steps);
    std::remove(path.c_str());
}

// A recording cut short (by a crash of the host that made it) replays up to
// its last whole frame and ends well; a damaged one ends with an error naming
// the frame. Shutdown comes either way.
TEST_F(HostSession, CutReplayEndsAtItsLastWholeFrameAndDamagedOneWithAnError)
{
    const std::string path = ::testing::TempDir() + "host_session_damaged.skvrec";
    {
        std::ofstream out(path, std::ios::binary);
        tools::write_recording_header(out);
        tools::scenario_source source(60.0);
        tools::session_settings settings = unpaced(3);
        settings.record = &out;
        tools::run_session(fake_plugin::entry_points(), source, settings);
    }
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const auto replay_of = [&](const std::string& recording, tools::session_result& r) {
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(recording.data(), static_cast<std::streamsize>(recording.size()));
        }
        fake_plugin::reset();
        tools::replay_source replay;
        std::string error;
        EXPECT_TRUE(replay.open(path, error)) << error;
        r = tools::run_session(fake_plugin::entry_points(), replay, unpaced(1000));
        EXPECT_EQ(fake_plugin::calls.back(), "Shutdown");
        return replay.cut_short();
    };

    tools::session_result r;
    const std::string cut = replay_of(bytes.substr(0, bytes.size() - 10), r);  // into frame 3
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.frames, 2u);
    EXPECT_EQ(cut.rfind("frame 3 (at byte ", 0), 0u) << cut;
    EXPECT_NE(cut.find("truncated"), std::string::npos) << cut;

    std::string damaged = bytes;
    damaged[bytes.size() - 100] ^= 0x04;  // a value bit of frame 3
    EXPECT_EQ(replay_of(damaged, r), "");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.frames, 2u);
    EXPECT_EQ(r.error.rfind("recording: frame 3 (at byte ", 0), 0u) << r.error;
    EXPECT_NE(r.error.find("checksum mismatch"), std::string::npos) << r.error;
    std::remove(path.c_str());

    std::string error;
    tools::replay_source missing;
    EXPECT_FALSE(missing.open(path + ".none", error));
    const std::string said = "cannot open the recording " + path + ".none: ";
    EXPECT_EQ(error.substr(0, said.size()), said);
    EXPECT_NE(error.find("(system error "), std::string::npos) << error;
    // A folder is named for what it is, not by what opening it gave.
    const std::string folder = ::testing::TempDir() + "host_session_folder.skvrec";
    std::filesystem::create_directories(folder);
    tools::replay_source not_a_file;
    EXPECT_FALSE(not_a_file.open(folder, error));
    EXPECT_EQ(error, "cannot open the recording " + folder + ": it is a folder, not a recording file");
    std::filesystem::remove(folder);
}

TEST_F(HostSession, ARecordingThatCannotBeWrittenEndsTheRunWithTheReason)
{
    // A stream whose writes fail as on a full disk.
    struct full_disk : std::streambuf {
        int_type overflow(int_type) override
        {
            errno = ENOSPC;
            return traits_type::eof();
        }
        std::streamsize xsputn(const char*, std::streamsize) override
        {
            errno = ENOSPC;
            return 0;
        }
    } disk;
    std::ostream out(&disk);
    tools::scenario_source source(60.0);
    tools::session_settings settings = unpaced(5);
    settings.record = &out;
    const tools::session_result r = tools::run_session(fake_plugin::entry_points(), source, settings);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.frames, 1u);
    // The C runtime's errno in its own words: on Windows never read as a
    // Windows error code (28 there is "The printer is out of paper").
#if defined(_WIN32)
    EXPECT_EQ(r.error, "writing the recording failed at frame 1: No space left on device (C runtime error 28)");
#else
    EXPECT_EQ(r.error, "writing the recording failed at frame 1: No space left on device (system error 28)");
#endif
    EXPECT_EQ(fake_plugin::calls.back(), "Shutdown");
}

TEST(HostOptions, ParsesEveryOption)
{
    const char* argv[] = {"--rate",   "30",         "--duration", "500ms",   "--frames",       "120",
                          "--record", "out.skvrec", "--fast",     "--quiet", "--keep-scratch", "plugin.dll"};
    tools::host_options o;
    std::string error;
    ASSERT_TRUE(tools::parse_host_options(12, argv, o, error)) << error;
    EXPECT_TRUE(o.scratch && o.keep_scratch);
    EXPECT_EQ(o.rate, 30.0);
    EXPECT_TRUE(o.rate_given);
    EXPECT_DOUBLE_EQ(*o.duration, 0.5);
    EXPECT_EQ(*o.frames, 120u);
    EXPECT_EQ(o.record_path, "out.skvrec");
    EXPECT_TRUE(o.fast && o.quiet);
    EXPECT_EQ(o.plugin_path, "plugin.dll");

    // The start of the flight may be its beginning, the default.
    const char* from_zero[] = {"--start", "0", "plugin.dll"};
    ASSERT_TRUE(tools::parse_host_options(3, from_zero, o, error)) << error;
    EXPECT_EQ(o.start, 0.0);
}

TEST(HostOptions, MistakesAreOneSentence)
{
    auto error_of = [](std::vector<const char*> args) {
        tools::host_options o;
        std::string error;
        EXPECT_FALSE(tools::parse_host_options(static_cast<int>(args.size()), args.data(), o, error));
        return error;
    };
    EXPECT_EQ(error_of({}), "no plug-in named");
    EXPECT_EQ(error_of({"a.dll", "b.dll"}), "one plug-in only: \"b.dll\" is one too many");
    EXPECT_EQ(error_of({"--rate", "0", "a.dll"}), "--rate wants frames per second from 0.01 to 10000, not \"0\"");
    // A period too long for the clock, or a number that is not decimal.
    for (const char* rate : {"1e-10", "0.009", "10001", "0x10", "inf"})
        EXPECT_EQ(error_of({"--rate", rate, "a.dll"}).rfind("--rate wants", 0), 0u) << rate;
    EXPECT_EQ(error_of({"--duration", "1e12", "a.dll"}),
              "--duration wants a time up to a year such as 10, 10s or 500ms, not \"1e12\"");
    EXPECT_EQ(error_of({"a.dll", "--frames"}), "--frames needs a value");
    EXPECT_EQ(error_of({"--frames", "-1", "a.dll"}), "--frames wants a whole number above 0, not \"-1\"");
    EXPECT_EQ(error_of({"--bogus", "a.dll"}), "unknown option --bogus");
    EXPECT_EQ(error_of({"--start", "6", "--replay", "x", "a.dll"}),
              "--start applies to the built-in flight, not to a replay");
}
