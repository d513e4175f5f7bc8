#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

#include "telemetry/socket_api.h"
#include "tests/support/private_network.h"

namespace {

TEST(SocketApi, ResolvesTheBroadcastDestinationWithItsRealLength)
{
    ASSERT_TRUE(socket_api::start());
    socket_api::address destination;
    ASSERT_EQ(socket_api::resolve_ipv4("255.255.255.255", "50001", destination), 0);
    socket_api::stop();

    ASSERT_EQ(destination.length, sizeof(sockaddr_in));
    sockaddr_in ipv4;
    std::memcpy(&ipv4, destination.bytes, sizeof ipv4);
    EXPECT_EQ(ipv4.sin_family, AF_INET);
    EXPECT_EQ(ntohs(ipv4.sin_port), 50001);
    EXPECT_EQ(ipv4.sin_addr.s_addr, htonl(INADDR_BROADCAST));
}

TEST(SocketApi, BindsToASystemChosenPortAndTimesOutWithoutTraffic)
{
    const socket_api::socket_handle s = socket_api::open_udp();
    ASSERT_NE(s, socket_api::invalid_socket);
    EXPECT_EQ(socket_api::local_port(s), 0);
    ASSERT_TRUE(socket_api::bind_any(s, 0));
    EXPECT_NE(socket_api::local_port(s), 0);
    std::uint8_t buffer[8];
    EXPECT_EQ(socket_api::receive(s, buffer, sizeof buffer, 50), socket_api::receive_timed_out);
    socket_api::close(s);
}

TEST(SocketApi, SendsAndReceivesACutDatagramWithItsSender)
{
    SKIP_UNLESS_PRIVATE_NETWORK();
    const socket_api::socket_handle receiver = socket_api::open_udp();
    const socket_api::socket_handle sender = socket_api::open_udp();
    ASSERT_TRUE(socket_api::bind_any(receiver, 0, true));
    ASSERT_TRUE(socket_api::bind_any(sender, 0));
    const std::string port = std::to_string(socket_api::local_port(receiver));
    socket_api::address to;
    ASSERT_EQ(socket_api::resolve_ipv4("127.0.0.1", port.c_str(), to), 0);

    const std::uint8_t datagram[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(socket_api::send_to(sender, datagram, sizeof datagram, to));
    std::uint8_t buffer[4] = {};
    socket_api::address from;
    ASSERT_EQ(socket_api::receive(receiver, buffer, sizeof buffer, 2000, &from), 4);
    EXPECT_EQ(std::memcmp(buffer, datagram, 4), 0);
    sockaddr_in source;
    std::memcpy(&source, from.bytes, sizeof source);
    EXPECT_EQ(ntohs(source.sin_port), socket_api::local_port(sender));

    socket_api::close(sender);
    socket_api::close(receiver);
}

}  // namespace
