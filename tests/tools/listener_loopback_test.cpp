// The listener's loop over real sockets on the loopback interface:
// datagrams to 127.0.0.1 only, never a broadcast.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "tests/tools/loopback_sockets.h"
#include "tools/listen/listener.h"

using loopback::bound_socket;
using loopback::motion;
using loopback::read_all;

namespace {

const auto* const environment = ::testing::AddGlobalTestEnvironment(new loopback::socket_layer_environment);

}  // namespace

TEST(ListenerLoopback, CountsValidAndMalformedAndStopsAtTheCount)
{
    SKIP_UNLESS_PRIVATE_NETWORK();
    bound_socket listener, sender;
    const socket_api::address to = loopback::to("127.0.0.1", listener.port);
    const std::uint8_t garbage[5] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(socket_api::send_to(sender.handle, garbage, sizeof garbage, to));
    // Larger than any buffer of old: reported with its own size, not cut.
    const std::vector<std::uint8_t> oversized(40000, 0x47);
    ASSERT_TRUE(socket_api::send_to(sender.handle, oversized.data(), oversized.size(), to));
    for (std::uint32_t i = 0; i < 5; ++i) {
        const motion_datagram d = motion(i * 16667);
        ASSERT_TRUE(socket_api::send_to(sender.handle, d.data(), d.size(), to));
    }
    motion_datagram wrong_marker = motion(0);
    wrong_marker[2] = 'X';
    ASSERT_TRUE(socket_api::send_to(sender.handle, wrong_marker.data(), wrong_marker.size(), to));
    const motion_datagram sixth = motion(5 * 16667);
    ASSERT_TRUE(socket_api::send_to(sender.handle, sixth.data(), sixth.size(), to));
    const motion_datagram unread = motion(6 * 16667);  // beyond the count: left unread
    ASSERT_TRUE(socket_api::send_to(sender.handle, unread.data(), unread.size(), to));

    tools::listen_options options;
    options.count = 6;
    options.duration = 5.0;  // a bound in case datagrams were lost
    std::FILE* table = std::tmpfile();
    std::FILE* csv = std::tmpfile();
    std::FILE* notes = std::tmpfile();
    ASSERT_TRUE(table && csv && notes);
    tools::motion_statistics statistics;
    std::string error;
    ASSERT_TRUE(tools::run_listener(listener.handle, options, nullptr, {table, csv, "motion.csv", notes}, nullptr,
                                    statistics, error));
    const tools::motion_summary s = statistics.summary();
    EXPECT_EQ(s.valid, 6u);
    EXPECT_EQ(s.wrong_size, 2u);
    EXPECT_EQ(s.wrong_marker, 1u);
    EXPECT_EQ(s.time_backwards, 0u);

    const std::string table_text = read_all(table);
    EXPECT_NE(table_text.find("    0.083335      1.000      2.000      3.000"), std::string::npos) << table_text;
    const std::string csv_text = read_all(csv);
    EXPECT_EQ(std::count(csv_text.begin(), csv_text.end(), '\n'), 7);  // header and six rows
    const std::string notes_text = read_all(notes);
    EXPECT_NE(
        notes_text.find("ignored a 5-byte datagram from 127.0.0.1:" + std::to_string(sender.port) + " (wrong size)"),
        std::string::npos)
        << notes_text;
    EXPECT_NE(notes_text.find("ignored a 40000-byte datagram"), std::string::npos) << notes_text;
    EXPECT_NE(notes_text.find("(wrong marker)"), std::string::npos);
    std::fclose(table);
    std::fclose(csv);
    std::fclose(notes);
}

TEST(ListenerLoopback, DurationEndsAQuietWait)
{
    bound_socket listener;
    tools::listen_options options;
    options.duration = 0.3;
    tools::motion_statistics statistics;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(tools::run_listener(listener.handle, options, nullptr, {}, nullptr, statistics, error));
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, 0.29);
    EXPECT_LT(waited, 2.0);
    EXPECT_EQ(statistics.summary().valid, 0u);
}

TEST(ListenerLoopback, DerivedColumnsFollowTheVelocitiesAndNeverShowABadNumber)
{
    SKIP_UNLESS_PRIVATE_NETWORK();
    bound_socket listener, sender;
    const socket_api::address to = loopback::to("127.0.0.1", listener.port);
    // 2 m/s more every 10 ms of simulation time: 200 m/s^2 forward; the first
    // row has nothing to differ from. Then a sender's faults: not a number,
    // a speed beyond any aircraft's, an infinite one; after each the series
    // starts afresh.
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const double speeds[] = {1, 3, 5, nan, 7, 9, 3.4e38, 11, 13, inf, -inf, 15, 17};
    std::uint32_t time_us = 0;
    for (const double speed : speeds) {
        const motion_datagram d = motion(time_us, speed);
        time_us += 10000;
        ASSERT_TRUE(socket_api::send_to(sender.handle, d.data(), d.size(), to));
    }
    tools::listen_options options;
    options.count = std::size(speeds);
    options.duration = 5.0;
    options.derive = true;
    std::FILE* table = std::tmpfile();
    std::FILE* csv = std::tmpfile();
    ASSERT_TRUE(table && csv);
    tools::motion_statistics statistics;
    std::string error;
    ASSERT_TRUE(tools::run_listener(listener.handle, options, nullptr, {table, csv, "m.csv", nullptr}, nullptr,
                                    statistics, error));
    const std::string text = read_all(csv);
    const std::string table_text = read_all(table);
    std::fclose(csv);
    std::fclose(table);
    EXPECT_NE(text.find(",derived_acceleration_x,"), std::string::npos) << text;
    EXPECT_NE(text.find(",0.000000,1,2,3,0,0,0,,,,,,\n"), std::string::npos) << text;
    EXPECT_NE(text.find(",0.020000,5,2,3,0,0,0,200,0,0,0,0,0\n"), std::string::npos) << text;
    // The raw values as they came; no derived value across a break.
    EXPECT_NE(text.find(",0.030000,nan,2,3,0,0,0,,,,,,\n"), std::string::npos) << text;
    EXPECT_NE(text.find(",0.040000,7,2,3,0,0,0,,,,,,\n"), std::string::npos) << text;
    EXPECT_NE(text.find(",0.050000,9,2,3,0,0,0,200,0,0,0,0,0\n"), std::string::npos) << text;
    EXPECT_NE(text.find(",0.060000,3.39999995e+38,2,3,0,0,0,,,,,,\n"), std::string::npos) << text;
    EXPECT_NE(text.find(",0.120000,17,2,3,0,0,0,200,0,0,0,0,0\n"), std::string::npos) << text;

    // In the table, the six derived columns of every row are "-" or numbers
    // of their width, whatever the raw columns before them show.
    const std::regex sound_derived_columns(R"(( +(-|-?[0-9]{1,4}\.[0-9]{3,5})){6}$)");
    int rows = 0;
    for (std::size_t start = table_text.find('\n') + 1, end; (end = table_text.find('\n', start)) != std::string::npos;
         start = end + 1, ++rows)
        EXPECT_TRUE(std::regex_search(table_text.substr(start, end - start), sound_derived_columns))
            << table_text.substr(start, end - start);
    EXPECT_EQ(rows, static_cast<int>(std::size(speeds)));
}
