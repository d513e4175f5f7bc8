#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "telemetry/udp_broadcaster.h"
#include "tests/support/message_builder.h"
#include "tests/support/motion_receiver.h"
#include "tests/support/open_sockets.h"
#include "tests/support/private_network.h"

namespace {

using namespace test_messages;
using bytes = std::vector<std::uint8_t>;

// Each test owns a broadcaster to 255.255.255.255:50001 and a receiver on
// 0.0.0.0:50001 that keeps only that broadcaster's datagrams.
class Broadcast : public ::testing::Test {
protected:
    void SetUp() override
    {
        SKIP_UNLESS_PRIVATE_NETWORK();
        ASSERT_TRUE(receiver.is_bound());
    }

    std::optional<bytes> broadcast(const tm_message_list& frame)
    {
        broadcast_motion(frame, broadcaster);
        return receiver.receive(broadcaster.local_port());
    }

    static bytes datagram(std::initializer_list<std::uint8_t> after_marker)
    {
        bytes d{0x47, 0x00, 0x4D, 0x04};
        d.insert(d.end(), after_marker);
        d.resize(32, 0);
        return d;
    }

    motion_receiver receiver{50001};
    udp_broadcaster broadcaster;
};

TEST_F(Broadcast, SimulationTimesArriveByteExact)
{
    EXPECT_EQ(broadcast({simulation_time(1.5)}), datagram({0x60, 0xE3, 0x16, 0x00}));
    EXPECT_EQ(broadcast({simulation_time(4295.0)}), datagram({0xC0, 0x7F, 0x00, 0x00}));
    EXPECT_EQ(broadcast({simulation_time(-1.0)}), datagram({0xC0, 0xBD, 0xF0, 0xFF}));
}

TEST_F(Broadcast, VelocityArrivesAtOffsets8To19)
{
    EXPECT_EQ(broadcast({velocity(1, 2, 3)}),
              datagram({0, 0, 0, 0, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0x40}));
}

TEST_F(Broadcast, FrameWithoutTheThreeMessagesStillSends)
{
    EXPECT_EQ(broadcast({make_vector3d(tm_msg_id("Aircraft.Acceleration"), 1, 2, 3),
                         make_vector3d(tm_msg_id("Aircraft.Gravity"), 0, 0, -9.81)}),
              datagram({}));
}

TEST_F(Broadcast, LaterSimulationTimeWins)
{
    EXPECT_EQ(broadcast({simulation_time(4295.0), velocity(0, 0, 0), simulation_time(1.5)}),
              datagram({0x60, 0xE3, 0x16, 0x00}));
}

TEST_F(Broadcast, EmptyFrameMakesNoSocket)
{
    const int sockets = count_open_sockets();
    broadcast_motion({}, broadcaster);
    EXPECT_FALSE(broadcaster.is_open());
    EXPECT_EQ(count_open_sockets(), sockets);
}

TEST_F(Broadcast, TenThousandFramesShareOneSocket)
{
    const int sockets = count_open_sockets();
    int arrived = 0;
    for (int i = 0; i < 10000; ++i) {
        const std::optional<bytes> d = broadcast({simulation_time(i * 0.001)});
        decoded_motion m;
        if (d && decode_motion_datagram(d->data(), d->size(), m) && m.time_us == motion_time_field(i * 0.001))
            ++arrived;
    }
    EXPECT_EQ(arrived, 10000);
    EXPECT_EQ(count_open_sockets(), sockets + 1);
}

TEST_F(Broadcast, CloseReleasesTheSocketAndTheNextFrameOpensAnother)
{
    const int sockets = count_open_sockets();
    ASSERT_TRUE(broadcast({simulation_time(1.5)}));
    broadcaster.close();
    EXPECT_FALSE(broadcaster.is_open());
    EXPECT_EQ(count_open_sockets(), sockets);
    EXPECT_EQ(broadcast({simulation_time(4295.0)}), datagram({0xC0, 0x7F, 0x00, 0x00}));
    EXPECT_EQ(count_open_sockets(), sockets + 1);
}

TEST_F(Broadcast, DestructorReleasesTheSocket)
{
    const int sockets = count_open_sockets();
    {
        udp_broadcaster scoped;
        broadcast_motion({simulation_time(1.0)}, scoped);
        ASSERT_TRUE(scoped.is_open());
        EXPECT_EQ(count_open_sockets(), sockets + 1);
    }
    EXPECT_EQ(count_open_sockets(), sockets);
}

// The lowest free descriptor number: with the limit there, every number
// below it is taken and no new descriptor can be made.
rlim_t lowest_free_descriptor()
{
    const int probe = dup(0);
    close(probe);
    return static_cast<rlim_t>(probe);
}

TEST_F(Broadcast, WithoutDescriptorsNothingIsSentAndRetryWaitsASecond)
{
    const motion_datagram d = encode_motion_datagram(select_motion({simulation_time(1.5)}));
    const auto t0 = udp_broadcaster::clock::now();

    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit exhausted = saved;
    exhausted.rlim_cur = lowest_free_descriptor();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &exhausted), 0);
    broadcaster.send(d.data(), d.size(), t0);
    const bool opened_without_descriptors = broadcaster.is_open();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

    EXPECT_FALSE(opened_without_descriptors);
    // Descriptors are back, but the next attempt is not due yet.
    broadcaster.send(d.data(), d.size(), t0 + std::chrono::milliseconds(999));
    EXPECT_FALSE(broadcaster.is_open());
    broadcaster.send(d.data(), d.size(), t0 + udp_broadcaster::retry_interval);
    ASSERT_TRUE(broadcaster.is_open());
    EXPECT_EQ(receiver.receive(broadcaster.local_port()), bytes(d.begin(), d.end()));
    // The only datagram that arrived is the one sent once the socket existed.
    EXPECT_FALSE(receiver.receive(broadcaster.local_port(), 200));
}

TEST_F(Broadcast, AnotherDestinationCanBeNamed)
{
    const socket_api::socket_handle probe = socket_api::open_udp();
    ASSERT_TRUE(socket_api::bind_any(probe, 0));
    const std::string port = std::to_string(socket_api::local_port(probe));
    udp_broadcaster to_probe("127.0.0.1", port.c_str());
    const motion_datagram d = encode_motion_datagram(select_motion({velocity(1, 2, 3)}));
    to_probe.send(d.data(), d.size());
    std::uint8_t buffer[64];
    EXPECT_EQ(socket_api::receive(probe, buffer, sizeof buffer, 2000), 32);
    EXPECT_EQ(bytes(buffer, buffer + 32), bytes(d.begin(), d.end()));
    socket_api::close(probe);
}

}  // namespace
