#include "tools/listen/ipv4_endpoint.h"

namespace tools {

std::string ipv4_endpoint::address_text() const
{
    return std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." + std::to_string(octets[2]) + "." +
           std::to_string(octets[3]);
}

std::string ipv4_endpoint::text() const
{
    return address_text() + ":" + std::to_string(port);
}

// sockaddr_in on every platform here: a 16-bit family in the machine's order
// (little-endian), the port in network order, then the four address bytes.
socket_api::address ipv4_endpoint::socket_address() const noexcept
{
    socket_api::address a;
    a.length = 16;
    a.bytes[0] = 2;  // AF_INET
    a.bytes[2] = static_cast<unsigned char>(port >> 8);
    a.bytes[3] = static_cast<unsigned char>(port);
    for (int i = 0; i < 4; ++i) a.bytes[4 + i] = octets[i];
    return a;
}

std::optional<ipv4_endpoint> ipv4_endpoint_of(const socket_api::address& address) noexcept
{
    if (address.length < 8) return std::nullopt;
    const unsigned family = address.bytes[0] | (address.bytes[1] << 8);
    if (family != 2) return std::nullopt;  // AF_INET
    ipv4_endpoint e;
    e.port = static_cast<std::uint16_t>((address.bytes[2] << 8) | address.bytes[3]);
    for (int i = 0; i < 4; ++i) e.octets[i] = address.bytes[4 + i];
    return e;
}

std::string control_group_refusal(const ipv4_endpoint& group)
{
    return "the multicast group " + group.address_text() +
           " belongs to the local network's own protocols; choose one from 239.0.0.0 to 239.255.255.255";
}

}  // namespace tools
