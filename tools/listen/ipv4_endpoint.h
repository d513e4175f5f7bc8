// An IPv4 address and port taken out of a socket address, with the kinds of
// address the listener and its relay tell apart.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "telemetry/socket_api.h"

namespace tools {

struct ipv4_endpoint {
    std::uint8_t octets[4] = {};
    std::uint16_t port = 0;

    bool is_unspecified() const noexcept { return !octets[0] && !octets[1] && !octets[2] && !octets[3]; }
    bool is_limited_broadcast() const noexcept
    {
        return octets[0] == 255 && octets[1] == 255 && octets[2] == 255 && octets[3] == 255;
    }
    bool is_multicast() const noexcept { return octets[0] >= 224 && octets[0] <= 239; }
    // 224.0.0.0/24: groups of the local network's own protocols, 224.0.0.1
    // (every host) among them.
    bool is_local_control_multicast() const noexcept { return octets[0] == 224 && !octets[1] && !octets[2]; }
    bool same_address(const ipv4_endpoint& other) const noexcept
    {
        return octets[0] == other.octets[0] && octets[1] == other.octets[1] && octets[2] == other.octets[2] &&
               octets[3] == other.octets[3];
    }
    friend bool operator==(const ipv4_endpoint& a, const ipv4_endpoint& b) noexcept
    {
        return a.same_address(b) && a.port == b.port;
    }
    socket_api::address socket_address() const noexcept;  // the inverse of ipv4_endpoint_of()
    std::string address_text() const;  // "192.0.2.7"
    std::string text() const;  // "192.0.2.7:50001"
};

std::optional<ipv4_endpoint> ipv4_endpoint_of(const socket_api::address& address) noexcept;

// Why a group of the local network's own protocols is refused, for --relay
// and --group alike.
std::string control_group_refusal(const ipv4_endpoint& group);

}  // namespace tools
