// The bound on relays that send to each other. A datagram that a relay
// forwards may come back to it, round a loop of relays or by a second path;
// it is then a byte-for-byte copy of one the relay took a moment ago from
// another sender. The guard remembers the datagrams of the last few seconds
// with their senders and tells such copies apart, so each datagram goes round
// a loop at most once. A paused simulation sends one datagram again and again
// from the same sender: those are not copies, and go on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "telemetry/motion_datagram.h"
#include "tools/listen/ipv4_endpoint.h"

namespace tools {

class relay_loop_guard {
public:
    // How long, and how many datagrams at most, are remembered: longer than
    // any loop takes to go round; five seconds of a stream of up to 3,276
    // datagrams a second, a third of a second of a flood of 50,000.
    static constexpr double memory_seconds = 5.0;
    static constexpr std::size_t capacity = 16384;

    relay_loop_guard();

    // Whether `datagram`, received from `sender` at `now` seconds (a steady
    // clock), copies one received from another sender within the memory;
    // one that does not is remembered. One look-up in a hash table, however
    // many datagrams are remembered.
    bool is_copy(const motion_datagram& datagram, const ipv4_endpoint& sender, double now);

private:
    struct entry {
        std::uint64_t hash;
        motion_datagram bytes;
        ipv4_endpoint sender;
        double time;
    };
    std::vector<entry> entries_;  // a ring once it is full
    std::size_t next_ = 0;  // where the next entry goes once it is full
    // The hash of each remembered datagram's bytes, to its newest entry.
    // Two datagrams of one hash (never seen in 64 bits, but possible) keep
    // only the newer: a copy of the older may then go round once more.
    std::unordered_map<std::uint64_t, std::size_t> newest_;
};

}  // namespace tools
