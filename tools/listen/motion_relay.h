// Forwarding of motion datagrams, unchanged, to unicast addresses and IPv4
// multicast groups: for networks where the broadcast does not reach the
// receivers, and for several receivers at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "telemetry/motion_datagram.h"
#include "telemetry/socket_api.h"
#include "tools/common/command_line.h"
#include "tools/listen/ipv4_endpoint.h"
#include "tools/listen/relay_loop_guard.h"

namespace tools {

struct relay_settings {
    std::vector<host_port> destinations;  // unicast addresses or multicast groups
    int multicast_ttl = 1;  // 1: multicast stays on the local network
    std::string multicast_interface;  // local address multicast leaves by; empty: the system's choice
    std::optional<double> rate;  // at most this many datagrams a second
};

// The sends to one destination that failed, and the system's reason for the
// last of them.
struct relay_failures {
    std::string destination;  // "192.0.2.7:50001"
    std::uint64_t sends = 0;
    int last_error = 0;  // the system's code
};

struct relay_counts {
    std::uint64_t forwarded = 0;  // datagrams sent on (to every destination)
    std::uint64_t failed = 0;  // sends to one destination that failed
    std::uint64_t echoes = 0;  // our own forwarded datagrams, come back
    std::uint64_t copies = 0;  // copies that came round a loop or by a second path
    // Held back by the rate cap and never sent: replaced by a newer one, or
    // still held when the run ended.
    std::uint64_t held_back = 0;
    std::vector<relay_failures> failures;  // one for each destination, in order
};

// What the relay made of a valid datagram.
enum class relay_verdict {
    taken,  // to be forwarded, now or when the rate cap allows
    own_echo,  // sent by this relay: neither forwarded nor counted as received
    copy,  // already taken from another sender: neither forwarded nor counted
};

class motion_relay {
public:
    motion_relay() = default;
    ~motion_relay();
    motion_relay(const motion_relay&) = delete;
    motion_relay& operator=(const motion_relay&) = delete;

    // Resolves the destinations and opens the sending socket. Refuses the
    // unspecified address, broadcast addresses (the limited one and those the
    // system knows for its networks), the local network's control groups and
    // the listener's own port on this machine. False with one sentence.
    bool open(const relay_settings& settings, std::uint16_t listen_port, std::string& error);

    // Takes a valid datagram received from `from` at `now` seconds (a steady
    // clock) and sends it on unless it is an echo or a copy, or the rate cap
    // holds it back until flush(). Throws only std::bad_alloc.
    relay_verdict take(const motion_datagram& datagram, const socket_api::address& from, double now);

    // Sends the datagram held back by the rate cap once its turn has come.
    void flush(double now) noexcept;
    // When a held datagram is due, if one is held.
    std::optional<double> due() const noexcept;
    // The end of the run: a datagram still held is counted as held back.
    void finish() noexcept;

    const relay_counts& counts() const noexcept { return counts_; }
    std::string destinations_text() const;
    std::uint16_t local_port() const noexcept { return local_port_; }

private:
    bool is_own_echo(const ipv4_endpoint& sender) noexcept;
    bool is_local_address(const ipv4_endpoint& address) noexcept;
    void send(const motion_datagram& datagram, double now) noexcept;

    socket_api::socket_handle socket_ = socket_api::invalid_socket;
    std::vector<socket_api::address> to_;
    std::vector<ipv4_endpoint> endpoints_;
    std::uint16_t local_port_ = 0;
    double period_ = 0.0;  // 0: no rate cap
    std::optional<double> last_sent_;
    std::optional<motion_datagram> held_;
    relay_loop_guard loop_guard_;
    // Senders found to be, or not to be, this machine's own addresses.
    std::vector<std::pair<ipv4_endpoint, bool>> known_addresses_;
    relay_counts counts_;
};

// The system's words for the last failed socket call on this thread.
std::string socket_error_text();

}  // namespace tools
