// The bound on relays that send to each other. A datagram that a relay
// forwards may come back to it, round a loop of relays or by a second path;
// it is then a byte-for-byte copy of one the relay took a moment ago from
// another sender. The guard remembers the datagrams of the last few seconds
// with their senders and tells such copies apart, so each datagram goes round
// a loop at most once. A paused simulation sends one datagram again and again
// from the same sender: those are not copies, and go on.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "telemetry/motion_datagram.h"
#include "tools/listen/ipv4_endpoint.h"

namespace tools {

class relay_loop_guard {
public:
    // How long, and how many datagrams at most, are remembered: longer than
    // any loop takes to go round, a few seconds of any stream.
    static constexpr double memory_seconds = 5.0;
    static constexpr std::size_t capacity = 4096;

    relay_loop_guard() { entries_.reserve(capacity); }

    // Whether `datagram`, received from `sender` at `now` seconds (a steady
    // clock), copies one received from another sender within the memory;
    // one that does not is remembered.
    bool is_copy(const motion_datagram& datagram, const ipv4_endpoint& sender, double now) noexcept;

private:
    struct entry {
        std::uint64_t hash;
        motion_datagram bytes;
        ipv4_endpoint sender;
        double time;
    };
    std::vector<entry> entries_;  // a ring once it is full
    std::size_t next_ = 0;  // where the next entry goes once it is full
};

}  // namespace tools
