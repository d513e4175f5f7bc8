// The relay over real sockets on the loopback interface and a multicast
// group routed onto it: forwarding byte for byte to several destinations,
// refusals, its own echoes, two relays aimed at each other, the rate cap, a
// flood counted to the last datagram.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "tests/tools/loopback_sockets.h"
#include "tools/listen/listener.h"
#include "tools/listen/motion_relay.h"
#include "tools/listen/motion_table.h"
#include "tools/listen/relay_loop_guard.h"

using loopback::bound_socket;
using loopback::bytes_of;
using loopback::motion;

namespace {

// A group of the organisation-local scope, never one of the local network's
// control groups; the namespace routes 224.0.0.0/4 onto lo.
constexpr const char* test_group = "239.255.50.1";

tools::relay_settings to_destinations(std::vector<tools::host_port> destinations)
{
    tools::relay_settings settings;
    settings.destinations = std::move(destinations);
    return settings;
}

tools::ipv4_endpoint endpoint(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint16_t port)
{
    tools::ipv4_endpoint e;
    e.octets[0] = a, e.octets[1] = b, e.octets[2] = c, e.octets[3] = d;
    e.port = port;
    return e;
}

}  // namespace

TEST(MotionRelay, FeedsTwoUnicastReceiversAndAMulticastGroupByteForByte)
{
    SKIP_UNLESS_PRIVATE_NETWORK();
    bound_socket listener, sender, first, second, member;
    socket_api::address group;
    ASSERT_EQ(socket_api::resolve_ipv4(test_group, nullptr, group), 0);
    ASSERT_TRUE(socket_api::join_multicast_group(member.handle, group, nullptr))
        << "system error " << socket_api::last_error() << ": is 224.0.0.0/4 routed onto lo?";

    tools::listen_options options;
    options.relay = to_destinations({{"127.0.0.1", first.port}, {"127.0.0.1", second.port}, {test_group, member.port}});
    tools::motion_relay relay;
    std::string error;
    ASSERT_TRUE(relay.open(options.relay, listener.port, error)) << error;
    EXPECT_EQ(relay.destinations_text(), "127.0.0.1:" + std::to_string(first.port) +
                                             ", 127.0.0.1:" + std::to_string(second.port) + ", " + test_group + ":" +
                                             std::to_string(member.port));

    // A running flight, then a pause: the same datagram again and again.
    std::vector<motion_datagram> sent;
    for (std::uint32_t i = 0; i < 20; ++i) {
        const std::uint32_t frame = std::min(i, 14u);
        sent.push_back(motion(16667 * frame, 1.0 + frame));
    }
    const socket_api::address to = loopback::to("127.0.0.1", listener.port);
    for (const motion_datagram& d : sent) ASSERT_TRUE(socket_api::send_to(sender.handle, d.data(), d.size(), to));

    options.count = sent.size();
    options.duration = 5.0;
    tools::motion_statistics statistics;
    ASSERT_TRUE(tools::run_listener(listener.handle, options, &relay, {}, nullptr, statistics, error)) << error;
    EXPECT_EQ(relay.counts().forwarded, sent.size());
    EXPECT_EQ(relay.counts().failed, 0u);
    for (const bound_socket* receiver : {&first, &second, &member}) {
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const auto got = receiver->next();
            ASSERT_TRUE(got) << "receiver on port " << receiver->port << ", datagram " << i;
            EXPECT_EQ(*got, bytes_of(sent[i])) << "receiver on port " << receiver->port << ", datagram " << i;
        }
        EXPECT_FALSE(receiver->next(100)) << "receiver on port " << receiver->port;
    }
}

TEST(MotionRelay, RefusesBroadcastsControlGroupsAndItself)
{
    SKIP_UNLESS_PRIVATE_NETWORK();  // asks the namespace's own routes
    std::string error;
    auto refusal = [&](const char* host, std::uint16_t port) {
        tools::motion_relay relay;
        EXPECT_FALSE(relay.open(to_destinations({{host, port}}), 50001, error)) << host;
        return error;
    };
    EXPECT_EQ(refusal("0.0.0.0", 50002), "the relay cannot send to 0.0.0.0");
    EXPECT_EQ(refusal("255.255.255.255", 50002),
              "the relay sends to unicast addresses and multicast groups, and 255.255.255.255 is a broadcast address");
    // The directed broadcast of lo's network 127.0.0.0/8, as the system knows it.
    EXPECT_NE(refusal("127.255.255.255", 50002).find("127.255.255.255 is a broadcast address"), std::string::npos)
        << error;
    EXPECT_NE(refusal("224.0.0.1", 50002).find("belongs to the local network's own protocols"), std::string::npos);
    // Its own port, by any of this machine's addresses.
    EXPECT_EQ(refusal("127.0.0.1", 50001),
              "relaying to 127.0.0.1:50001 would send every datagram back to this listener");
    EXPECT_NE(refusal("127.0.0.2", 50001).find("back to this listener"), std::string::npos);

    tools::motion_relay twice;
    EXPECT_FALSE(twice.open(to_destinations({{"127.0.0.1", 50002}, {"127.0.0.1", 50002}}), 50001, error));
    EXPECT_EQ(error, "the relay destination 127.0.0.1:50002 is named twice");
    tools::relay_settings unicast_ttl = to_destinations({{"127.0.0.1", 50002}});
    unicast_ttl.multicast_ttl = 4;
    tools::motion_relay ttl_for_nothing;
    EXPECT_FALSE(ttl_for_nothing.open(unicast_ttl, 50001, error));
    EXPECT_EQ(error, "--ttl applies to multicast groups, and no relay destination is one");
}

TEST(MotionRelay, OwnEchoesByAnyLocalAddressAreNeitherForwardedNorCounted)
{
    SKIP_UNLESS_PRIVATE_NETWORK();
    bound_socket listener, target;
    tools::motion_relay relay;
    std::string error;
    ASSERT_TRUE(relay.open(to_destinations({{"127.0.0.1", target.port}}), listener.port, error)) << error;
    const motion_datagram d = motion(1);
    // Back from the relay's own port, by another of this machine's addresses.
    EXPECT_EQ(relay.take(d, endpoint(127, 0, 0, 2, relay.local_port()).socket_address(), 0.0),
              tools::relay_verdict::own_echo);
    EXPECT_EQ(relay.counts().echoes, 1u);
    EXPECT_EQ(relay.counts().forwarded, 0u);
    EXPECT_FALSE(target.next(100));
    // The same port on another machine is someone else's sender.
    EXPECT_EQ(relay.take(d, endpoint(192, 0, 2, 7, relay.local_port()).socket_address(), 0.0),
              tools::relay_verdict::taken);
    EXPECT_EQ(relay.counts().forwarded, 1u);
    EXPECT_TRUE(target.next());
}

// Relay A listens where the plug-in sends and forwards to relay B on
// 127.0.0.2, which forwards back to A on 127.0.0.1. Without a bound one
// datagram would go round for ever, tens of thousands of times a second.
TEST(MotionRelay, TwoRelaysAimedAtEachOtherStayBounded)
{
    SKIP_UNLESS_PRIVATE_NETWORK();
    bound_socket listen_a, listen_b, plugin;
    tools::listen_options options_a, options_b;
    options_a.relay = to_destinations({{"127.0.0.2", listen_b.port}});
    options_b.relay = to_destinations({{"127.0.0.1", listen_a.port}});
    tools::motion_relay relay_a, relay_b;
    std::string error_a, error_b;
    ASSERT_TRUE(relay_a.open(options_a.relay, listen_a.port, error_a)) << error_a;
    ASSERT_TRUE(relay_b.open(options_b.relay, listen_b.port, error_b)) << error_b;

    std::atomic<bool> stop{false};
    tools::motion_statistics statistics_a, statistics_b;
    bool ok_a = false, ok_b = false;
    std::thread a(
        [&] { ok_a = tools::run_listener(listen_a.handle, options_a, &relay_a, {}, &stop, statistics_a, error_a); });
    std::thread b(
        [&] { ok_b = tools::run_listener(listen_b.handle, options_b, &relay_b, {}, &stop, statistics_b, error_b); });

    // Ten frames of flight, then five of a pause: identical datagrams that
    // must still go through.
    const socket_api::address to_a = loopback::to("127.0.0.1", listen_a.port);
    constexpr std::uint64_t frames = 15;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const motion_datagram d = motion(16667 * std::min(i, 9u), 1.0 + std::min(i, 9u));
        ASSERT_TRUE(socket_api::send_to(plugin.handle, d.data(), d.size(), to_a));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    stop = true;
    a.join();
    b.join();
    ASSERT_TRUE(ok_a && ok_b) << error_a << error_b;

    // Every frame once through each relay; each came back to A once, and A
    // knew it for a copy.
    EXPECT_EQ(relay_a.counts().forwarded, frames);
    EXPECT_EQ(relay_b.counts().forwarded, frames);
    EXPECT_EQ(relay_a.counts().copies, frames);
    EXPECT_EQ(relay_b.counts().copies, 0u);
    EXPECT_EQ(statistics_a.valid(), frames);  // copies are not received motion
    EXPECT_EQ(statistics_b.valid(), frames);
    EXPECT_EQ(statistics_a.summary().pauses, 1u);
}

TEST(RelayLoopGuard, CopiesFromAnotherSenderWithinTheMemoryOnly)
{
    tools::relay_loop_guard guard;
    const tools::ipv4_endpoint plugin = endpoint(192, 0, 2, 1, 61000), other_relay = endpoint(192, 0, 2, 2, 40000);
    const motion_datagram d = motion(1000), e = motion(2000);
    EXPECT_FALSE(guard.is_copy(d, plugin, 0.0));
    EXPECT_FALSE(guard.is_copy(d, plugin, 0.016));  // a pause: the same sender again
    EXPECT_TRUE(guard.is_copy(d, other_relay, 0.02));  // back round a loop
    EXPECT_FALSE(guard.is_copy(e, other_relay, 0.03));  // new to the guard: the first sender wins
    EXPECT_TRUE(guard.is_copy(e, plugin, 0.04));
    // The pause refreshed the memory of d; it lapses memory_seconds later.
    EXPECT_TRUE(guard.is_copy(d, other_relay, 0.015 + tools::relay_loop_guard::memory_seconds));
    EXPECT_FALSE(guard.is_copy(d, other_relay, 0.017 + tools::relay_loop_guard::memory_seconds));
}

TEST(MotionRelay, TheRateCapSendsTheNewestOfEachPeriod)
{
    SKIP_UNLESS_PRIVATE_NETWORK();
    bound_socket target;
    tools::relay_settings settings = to_destinations({{"127.0.0.1", target.port}});
    settings.rate = 10.0;  // one every 0.1 s
    tools::motion_relay relay;
    std::string error;
    ASSERT_TRUE(relay.open(settings, 50001, error)) << error;
    const socket_api::address from = endpoint(192, 0, 2, 1, 61000).socket_address();

    EXPECT_EQ(relay.take(motion(0), from, 0.0), tools::relay_verdict::taken);  // at once
    for (std::uint32_t i = 1; i <= 9; ++i) relay.take(motion(i), from, 0.01 * i);  // held, each replacing the last
    EXPECT_EQ(relay.due(), 0.1);
    relay.flush(0.099);
    relay.flush(0.1);
    EXPECT_FALSE(relay.due());
    relay.take(motion(10), from, 0.15);  // held until 0.2, but its turn passes unseen:
    relay.take(motion(11), from, 0.25);  // the newer one goes at once
    EXPECT_EQ(relay.counts().forwarded, 3u);
    EXPECT_EQ(relay.counts().held_back, 9u);
    for (std::uint32_t expected : {0u, 9u, 11u}) EXPECT_EQ(target.next(), bytes_of(motion(expected)));
    EXPECT_FALSE(target.next(100));
}

TEST(MotionRelay, TheListenerSendsTheHeldDatagramWhenNothingFollows)
{
    SKIP_UNLESS_PRIVATE_NETWORK();
    bound_socket listener, sender, target;
    tools::listen_options options;
    options.relay = to_destinations({{"127.0.0.1", target.port}});
    options.relay.rate = 2.0;  // a period long enough to read the twenty in, however busy the machine
    tools::motion_relay relay;
    std::string error;
    ASSERT_TRUE(relay.open(options.relay, listener.port, error)) << error;
    // Twenty datagrams queued before the listener reads: it takes them all
    // within the first period, sends the first and holds the newest.
    const socket_api::address to = loopback::to("127.0.0.1", listener.port);
    for (std::uint32_t i = 0; i < 20; ++i) {
        const motion_datagram d = motion(i);
        ASSERT_TRUE(socket_api::send_to(sender.handle, d.data(), d.size(), to));
    }
    options.duration = 1.0;
    tools::motion_statistics statistics;
    ASSERT_TRUE(tools::run_listener(listener.handle, options, &relay, {}, nullptr, statistics, error)) << error;
    EXPECT_EQ(statistics.valid(), 20u);
    EXPECT_EQ(relay.counts().forwarded, 2u);
    EXPECT_EQ(target.next(), bytes_of(motion(0)));
    EXPECT_EQ(target.next(), bytes_of(motion(19)));
    EXPECT_FALSE(target.next(100));
}

// A flood through a relay. First a burst that the receive buffer cannot
// hold, sent while the listener is not reading: every datagram of it is then
// received and forwarded, or counted as dropped by the system, and the
// summary's last line says how many were lost. Then a flood as fast as the
// sender can go, with the relay reading: none taken for a copy, every one
// received forwarded. (Under a flood the system may also drop datagrams
// before they reach any socket, in its own queues; no socket counts those.)
TEST(MotionRelay, AFloodIsCountedToTheLastDatagram)
{
    SKIP_UNLESS_PRIVATE_NETWORK();
    bound_socket listener, sender, target;
    tools::listen_options options;
    options.relay = to_destinations({{"127.0.0.1", target.port}});
    tools::motion_relay relay;
    std::string error;
    ASSERT_TRUE(relay.open(options.relay, listener.port, error)) << error;
#if defined(_WIN32)
    constexpr std::uint32_t burst = 1000, flood = 5000;  // Windows sockets under Wine are slower
#else
    constexpr std::uint32_t burst = 5000, flood = 50000;
#endif
    const socket_api::address to = loopback::to("127.0.0.1", listener.port);
    std::uint32_t sent = 0;
    const auto send = [&](std::uint32_t count) {
        for (std::uint32_t i = 0; i < count; ++i, ++sent) {
            const motion_datagram d = motion(sent * 16667);
            ASSERT_TRUE(socket_api::send_to(sender.handle, d.data(), d.size(), to));
        }
    };

    send(burst);
    options.duration = 0.3;
    tools::motion_statistics queued;
    ASSERT_TRUE(tools::run_listener(listener.handle, options, &relay, {}, nullptr, queued, error)) << error;
    const tools::motion_summary s = queued.summary();
    ASSERT_TRUE(s.dropped);
    // Windows counts only for the whole machine, and from the run's start.
    const bool per_socket = !s.dropped->whole_machine;
    if (per_socket) {
        EXPECT_EQ(s.valid + s.dropped->datagrams, burst);
    }
    EXPECT_LT(s.valid, burst);

    options.duration.reset();
    std::atomic<bool> stop{false};
    tools::motion_statistics flooded;
    bool ok = false;
    std::thread relay_thread(
        [&] { ok = tools::run_listener(listener.handle, options, &relay, {}, &stop, flooded, error); });
    send(flood);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // what is queued is read
    stop = true;
    relay_thread.join();
    ASSERT_TRUE(ok) << error;
    const tools::motion_summary f = flooded.summary();
    ASSERT_TRUE(f.dropped);
    EXPECT_GT(f.valid, 0u);
    if (per_socket) {
        EXPECT_LE(f.valid + f.dropped->datagrams, sent);  // the burst's drops among them
    }
    EXPECT_EQ(relay.counts().forwarded, s.valid + f.valid);
    EXPECT_EQ(relay.counts().copies + relay.counts().echoes + relay.counts().failed, 0u);
    const std::string summary = tools::summary_text(f, &relay.counts());
    const std::string last_line = summary.substr(summary.rfind('\n', summary.size() - 2) + 1);
    EXPECT_GT(f.dropped->datagrams, 0u);
    EXPECT_EQ(last_line.rfind("lost: " + std::to_string(f.dropped->datagrams) + " ", 0), 0u) << summary;
}

// A destination that cannot be reached: every failed send is counted, and
// the summary gives the system's reason.
TEST(MotionRelay, AFailingDestinationIsCountedWithItsReason)
{
    SKIP_UNLESS_PRIVATE_NETWORK();  // where no route leads off the machine
    bound_socket target;
    tools::motion_relay relay;
    std::string error;
    ASSERT_TRUE(relay.open(to_destinations({{"127.0.0.1", target.port}, {"192.0.2.9", 5000}}), 50001, error)) << error;
    const socket_api::address from = endpoint(192, 0, 2, 1, 61000).socket_address();
    for (std::uint32_t i = 0; i < 3; ++i) relay.take(motion(i), from, i * 0.1);
    EXPECT_EQ(relay.counts().forwarded, 3u);
    EXPECT_EQ(relay.counts().failed, 3u);
    ASSERT_EQ(relay.counts().failures.size(), 2u);
    EXPECT_EQ(relay.counts().failures[0].sends, 0u);
    EXPECT_EQ(relay.counts().failures[1].destination, "192.0.2.9:5000");
    EXPECT_EQ(relay.counts().failures[1].sends, 3u);
    EXPECT_NE(relay.counts().failures[1].last_error, 0);
    for (std::uint32_t i = 0; i < 3; ++i) EXPECT_EQ(target.next(), bytes_of(motion(i)));
}
