// The host's --print: one line per frame of the chosen messages' values, and
// the names it takes; the scratch folder a plug-in's run works in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/common/message_builder.h"
#include "tools/common/scratch_folder.h"
#include "tools/common/stream_encoding.h"
#include "tools/host/frame_printer.h"
#include "tools/host/host_options.h"

namespace {

std::string print(tools::frame_printer& printer, std::uint64_t frame, const tm_message_list& messages,
                  std::size_t cut = 0)
{
    std::vector<std::uint8_t> stream;
    tools::encode_stream(messages, stream);
    std::string line;
    printer.format(frame, stream.data(), stream.size() - cut, static_cast<std::uint32_t>(messages.size()), line);
    return line;
}

}  // namespace

TEST(FramePrinter, EveryDataTypeInItsColumnAndADashForWhatTheFrameLacks)
{
    tools::frame_printer printer({"Aircraft.Altitude", "Aircraft.Velocity", "Aircraft.Name", "Aircraft.Wind",
                                  "Aircraft.Orientation", "Aircraft.OnGround", "Navigation.COM1FrequencySwap",
                                  "Aircraft.NearestAirport", "Aircraft.Gear"});
    EXPECT_EQ(printer.header(),
              "frame\tAircraft.Altitude\tAircraft.Velocity\tAircraft.Name\tAircraft.Wind\tAircraft.Orientation\t"
              "Aircraft.OnGround\tNavigation.COM1FrequencySwap\tAircraft.NearestAirport\tAircraft.Gear");
    tm_external_message unknown_type = tools::make_double(tm_msg_id("Aircraft.Gear"), 1.0);
    unknown_type.Header.DataType = static_cast<tm_msg_data_type>(9);
    const tm_message_list frame = {
        tools::make_double(tm_msg_id("Simulation.Time"), 12.5),
        tools::make_vector3d(tm_msg_id("Aircraft.Velocity"), {31.25, 0.0, -1e-300}),
        tools::make_double(tm_msg_id("Aircraft.Altitude"), 0.1),
        tools::make_double(tm_msg_id("Aircraft.Altitude"), 99.0),  // only the first counts
        tools::make_string(tm_msg_id("Aircraft.Name"), "Caf\xE9\tX"),
        tools::make_vector2d(tm_msg_id("Aircraft.Wind"), -3.0, 4.5),
        tools::make_vector4d(tm_msg_id("Aircraft.Orientation"), {0.0, 0.0, 0.5, 0.75}),
        tools::make_int(tm_msg_id("Aircraft.OnGround"), -7),
        tools::make_none(tm_msg_id("Navigation.COM1FrequencySwap")),
        unknown_type,
    };
    // Shortest digits that read back as the same double; Latin-1 as UTF-8, a tab as "?".
    EXPECT_EQ(print(printer, 7, frame),
              "7\t0.1\t31.25 0 -1e-300\tCaf\xC3\xA9?X\t-3 4.5\t0 0 0.5 0.75\t-7\tvoid\t-\ttype 9");
    EXPECT_EQ(printer.never_seen(), std::vector<std::string>{"Aircraft.NearestAirport"});
}

TEST(FramePrinter, ReadsOnlyTheStreamItIsGiven)
{
    tools::frame_printer printer({"Aircraft.Altitude", "Aircraft.Height"});
    const tm_message_list frame = {tools::make_double(tm_msg_id("Aircraft.Altitude"), 35.0),
                                   tools::make_double(tm_msg_id("Aircraft.Height"), 2.0)};
    // The second message lacks its last byte: the frame ends before it.
    EXPECT_EQ(print(printer, 1, frame, 1), "1\t35\t-");
    std::string line;
    printer.format(2, nullptr, 0, 5, line);
    EXPECT_EQ(line, "2\t-\t-");
}

TEST(HostOptions, PrintTakesNamesByCommasAndScratchIsAFlag)
{
    const char* argv[] = {"--print",   "Aircraft.Altitude,Aircraft.Velocity", "--print", "Simulation.Time", "--scratch",
                          "plugin.dll"};
    tools::host_options o;
    std::string error;
    ASSERT_TRUE(tools::parse_host_options(6, argv, o, error)) << error;
    EXPECT_EQ(o.print, (std::vector<std::string>{"Aircraft.Altitude", "Aircraft.Velocity", "Simulation.Time"}));
    EXPECT_TRUE(o.scratch);
    for (const char* names : {"", "Aircraft.Altitude,", ",Aircraft.Altitude", "Aircraft Altitude", "A,,B"}) {
        const char* bad[] = {"--print", names, "plugin.dll"};
        EXPECT_FALSE(tools::parse_host_options(3, bad, o, error)) << names;
        EXPECT_EQ(error, "--print wants message names separated by commas, such as "
                         "Aircraft.Altitude,Aircraft.Velocity, not \"" +
                             std::string(names) + "\"");
    }
}

TEST(ScratchFolder, WorksInANewFolderAndRemovesItOrKeepsIt)
{
    namespace fs = std::filesystem;
    const fs::path before = fs::current_path();
    std::string error;
    tools::scratch_folder removed;
    ASSERT_TRUE(removed.enter("skarvel-test", error)) << error;
    EXPECT_EQ(fs::current_path(), fs::path(removed.path()));
    EXPECT_TRUE(removed.empty());
    fs::create_directory("sub");
    std::ofstream("report.txt") << "highest 1234 m\n";
    std::ofstream("sub/log.txt") << "x\n";
    EXPECT_FALSE(removed.empty());
    ASSERT_TRUE(removed.leave(true, error)) << error;
    EXPECT_EQ(fs::current_path(), before);
    EXPECT_FALSE(fs::exists(removed.path()));
    EXPECT_EQ(removed.files_removed(), 2u);

    tools::scratch_folder kept;
    ASSERT_TRUE(kept.enter("skarvel-test", error)) << error;
    EXPECT_NE(kept.path(), removed.path());
    std::ofstream("report.txt") << "kept\n";
    ASSERT_TRUE(kept.leave(false, error)) << error;
    EXPECT_EQ(fs::current_path(), before);
    EXPECT_TRUE(fs::exists(fs::path(kept.path()) / "report.txt"));
    fs::remove_all(kept.path());
}
