// Forwarding of motion datagrams, unchanged, to one unicast address: for
// networks where the broadcast does not reach the receiver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "telemetry/socket_api.h"
#include "tools/common/command_line.h"
#include "tools/listen/motion_table.h"

namespace tools {

// An IPv4 address and port taken out of a socket address.
struct ipv4_endpoint {
    std::uint8_t octets[4] = {};
    std::uint16_t port = 0;

    bool is_loopback() const noexcept { return octets[0] == 127; }
    bool is_unspecified() const noexcept { return !octets[0] && !octets[1] && !octets[2] && !octets[3]; }
    bool is_limited_broadcast() const noexcept
    {
        return octets[0] == 255 && octets[1] == 255 && octets[2] == 255 && octets[3] == 255;
    }
    bool is_multicast() const noexcept { return octets[0] >= 224 && octets[0] <= 239; }
    std::string text() const;
};
std::optional<ipv4_endpoint> ipv4_endpoint_of(const socket_api::address& address) noexcept;

class motion_relay {
public:
    motion_relay() = default;
    ~motion_relay();
    motion_relay(const motion_relay&) = delete;
    motion_relay& operator=(const motion_relay&) = delete;

    // Resolves the destination and opens the sending socket. Refuses
    // broadcast, multicast and unspecified addresses, and the listener's own
    // port on this machine, which would send every datagram round forever.
    bool open(const host_port& destination, std::uint16_t listen_port, std::string& error);

    // Sends the datagram on, unless it came from this relay's own socket.
    void forward(const std::uint8_t* bytes, std::size_t length, const socket_api::address* from) noexcept;

    const relay_counts& counts() const noexcept { return counts_; }
    const ipv4_endpoint& destination() const noexcept { return endpoint_; }
    std::uint16_t local_port() const noexcept { return local_port_; }

private:
    socket_api::socket_handle socket_ = socket_api::invalid_socket;
    socket_api::address to_;
    ipv4_endpoint endpoint_;
    std::uint16_t local_port_ = 0;
    relay_counts counts_;
};

}  // namespace tools
