// The broadcaster on Windows Sockets, run under Wine in a private network
// namespace: the plug-in's own start of the socket layer and its byte-exact
// datagram.
#include <gtest/gtest.h>

#include <winsock2.h>

#include "telemetry/udp_broadcaster.h"
#include "tests/support/message_builder.h"
#include "tests/support/motion_receiver.h"
#include "tests/support/private_network.h"

namespace {

using namespace test_messages;
using bytes = std::vector<std::uint8_t>;

bool socket_layer_started()
{
    const socket_api::socket_handle probe = socket_api::open_udp();
    socket_api::close(probe);
    return probe != socket_api::invalid_socket;
}

TEST(Winsock, BroadcasterStartsTheSocketLayerItselfAndStopsItOnClose)
{
    SKIP_UNLESS_PRIVATE_NETWORK();
    ASSERT_FALSE(socket_layer_started()) << "nothing in this process has started Windows Sockets";
    EXPECT_EQ(socket_api::last_error(), WSANOTINITIALISED);

    udp_broadcaster broadcaster;
    broadcast_motion({simulation_time(1.5)}, broadcaster);
    EXPECT_TRUE(broadcaster.is_open());
    EXPECT_NE(broadcaster.local_port(), 0);

    broadcaster.close();
    EXPECT_FALSE(socket_layer_started()) << "the start made by the broadcaster is paired with a stop";
}

TEST(Winsock, DatagramArrivesByteExact)
{
    SKIP_UNLESS_PRIVATE_NETWORK();
    motion_receiver receiver{50001};
    ASSERT_TRUE(receiver.is_bound());
    udp_broadcaster broadcaster;
    for (int frame = 0; frame < 100; ++frame) {
        broadcast_motion({simulation_time(4295.0), velocity(1, 2, 3)}, broadcaster);
        const bytes expected{0x47, 0x00, 0x4D, 0x04, 0xC0, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x80,
                             0x3F, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0x40, 0,    0,
                             0,    0,    0,    0,    0,    0,    0,    0,    0,    0};
        ASSERT_EQ(receiver.receive(broadcaster.local_port()), expected) << "frame " << frame;
    }
    broadcaster.close();
}

}  // namespace
