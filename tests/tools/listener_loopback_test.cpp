// The listener's loop and its relay over real sockets on the loopback
// interface: datagrams to 127.0.0.1 only, never a broadcast.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "telemetry/motion_datagram.h"
#include "telemetry/socket_api.h"
#include "tools/listen/listener.h"
#include "tools/listen/motion_relay.h"

namespace {

class socket_layer_environment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(socket_api::start()); }
    void TearDown() override { socket_api::stop(); }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new socket_layer_environment);

// A UDP socket bound to a free port, closed at the end of the test.
struct bound_socket {
    socket_api::socket_handle handle = socket_api::open_udp();
    std::uint16_t port = 0;
    bound_socket()
    {
        EXPECT_NE(handle, socket_api::invalid_socket);
        EXPECT_TRUE(socket_api::bind_any(handle, 0));
        port = socket_api::local_port(handle);
    }
    ~bound_socket() { socket_api::close(handle); }
};

socket_api::address loopback(std::uint16_t port)
{
    socket_api::address to;
    EXPECT_EQ(socket_api::resolve_ipv4("127.0.0.1", std::to_string(port).c_str(), to), 0);
    return to;
}

motion_datagram motion(std::uint32_t time_us)
{
    motion_sample sample;
    sample.simulation_time = time_us / 1e6;
    sample.aircraft_velocity = {1.0, 2.0, 3.0};
    motion_datagram d = encode_motion_datagram(sample);
    return d;
}

std::string read_all(std::FILE* file)
{
    std::rewind(file);
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    return text;
}

}  // namespace

TEST(ListenerLoopback, CountsValidAndMalformedAndStopsAtTheCount)
{
    bound_socket listener, sender;
    const socket_api::address to = loopback(listener.port);
    const std::uint8_t garbage[5] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(socket_api::send_to(sender.handle, garbage, sizeof garbage, to));
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
    ASSERT_TRUE(tools::run_listener(listener.handle, options, nullptr, {table, csv, notes}, nullptr, statistics, error));
    const tools::motion_summary s = statistics.summary();
    EXPECT_EQ(s.valid, 6u);
    EXPECT_EQ(s.wrong_size, 1u);
    EXPECT_EQ(s.wrong_marker, 1u);
    EXPECT_EQ(s.time_backwards, 0u);

    const std::string table_text = read_all(table);
    EXPECT_NE(table_text.find("    0.083335      1.000      2.000      3.000"), std::string::npos) << table_text;
    const std::string csv_text = read_all(csv);
    EXPECT_EQ(std::count(csv_text.begin(), csv_text.end(), '\n'), 7);  // header and six rows
    const std::string notes_text = read_all(notes);
    EXPECT_NE(notes_text.find("ignored a 5-byte datagram from 127.0.0.1:" + std::to_string(sender.port) +
                              " (wrong size)"),
              std::string::npos)
        << notes_text;
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

TEST(ListenerRelay, ForwardsValidDatagramsUnchangedAndNothingElse)
{
    bound_socket listener, sender, target;
    tools::motion_relay relay;
    std::string error;
    ASSERT_TRUE(relay.open({"127.0.0.1", target.port}, listener.port, error)) << error;

    const socket_api::address to = loopback(listener.port);
    const motion_datagram first = motion(1000), second = motion(2000);
    const std::uint8_t garbage[40] = {0x47, 0x00, 0x4D, 0x04};  // the marker, but 40 bytes
    ASSERT_TRUE(socket_api::send_to(sender.handle, first.data(), first.size(), to));
    ASSERT_TRUE(socket_api::send_to(sender.handle, garbage, sizeof garbage, to));
    ASSERT_TRUE(socket_api::send_to(sender.handle, second.data(), second.size(), to));

    tools::listen_options options;
    options.count = 2;
    options.duration = 5.0;
    tools::motion_statistics statistics;
    ASSERT_TRUE(tools::run_listener(listener.handle, options, &relay, {}, nullptr, statistics, error));
    EXPECT_EQ(relay.counts().forwarded, 2u);
    EXPECT_EQ(relay.counts().failed, 0u);

    std::uint8_t buffer[64];
    for (const motion_datagram* expected : {&first, &second}) {
        socket_api::address from;
        const std::ptrdiff_t got = socket_api::receive(target.handle, buffer, sizeof buffer, 2000, &from);
        ASSERT_EQ(got, 32);
        EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 32),
                  std::vector<std::uint8_t>(expected->begin(), expected->end()));
        const auto sender_endpoint = tools::ipv4_endpoint_of(from);
        ASSERT_TRUE(sender_endpoint.has_value());
        EXPECT_EQ(sender_endpoint->port, relay.local_port());
    }
    EXPECT_EQ(socket_api::receive(target.handle, buffer, sizeof buffer, 200), socket_api::receive_timed_out);
}

TEST(ListenerRelay, RefusesBroadcastMulticastAndItself)
{
    std::string error;
    for (const char* host : {"255.255.255.255", "224.0.0.1", "0.0.0.0"}) {
        tools::motion_relay relay;
        EXPECT_FALSE(relay.open({host, 50002}, 50001, error)) << host;
        EXPECT_NE(error.find("is not one"), std::string::npos) << error;
    }
    tools::motion_relay self;
    EXPECT_FALSE(self.open({"127.0.0.1", 50001}, 50001, error));
    EXPECT_NE(error.find("back to this listener"), std::string::npos) << error;
}

TEST(ListenerRelay, OwnEchoesAreNotSentAgain)
{
    bound_socket listener, target;
    tools::motion_relay relay;
    std::string error;
    ASSERT_TRUE(relay.open({"127.0.0.1", target.port}, listener.port, error)) << error;
    // A datagram that arrives from the relay's own port went round a loop.
    socket_api::address echo = loopback(relay.local_port());
    const motion_datagram d = motion(1);
    relay.forward(d.data(), d.size(), &echo);
    EXPECT_EQ(relay.counts().echoes, 1u);
    EXPECT_EQ(relay.counts().forwarded, 0u);
    std::uint8_t buffer[64];
    EXPECT_EQ(socket_api::receive(target.handle, buffer, sizeof buffer, 200), socket_api::receive_timed_out);
}
