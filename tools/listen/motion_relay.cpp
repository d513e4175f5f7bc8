#include "tools/listen/motion_relay.h"

namespace tools {

std::string ipv4_endpoint::text() const
{
    return std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." + std::to_string(octets[2]) + "." +
           std::to_string(octets[3]) + ":" + std::to_string(port);
}

std::optional<ipv4_endpoint> ipv4_endpoint_of(const socket_api::address& address) noexcept
{
    // sockaddr_in on every platform here: a 16-bit family in the machine's
    // order, the port in network order, then the four address bytes.
    if (address.length < 8) return std::nullopt;
    const unsigned family = address.bytes[0] | (address.bytes[1] << 8);
    if (family != 2) return std::nullopt;  // AF_INET
    ipv4_endpoint e;
    e.port = static_cast<std::uint16_t>((address.bytes[2] << 8) | address.bytes[3]);
    for (int i = 0; i < 4; ++i) e.octets[i] = address.bytes[4 + i];
    return e;
}

motion_relay::~motion_relay() { socket_api::close(socket_); }

bool motion_relay::open(const host_port& destination, std::uint16_t listen_port, std::string& error)
{
    const std::string service = std::to_string(destination.port);
    socket_api::address to;
    if (socket_api::resolve_ipv4(destination.host.c_str(), service.c_str(), to) != 0) {
        error = "cannot resolve the relay host " + destination.host;
        return false;
    }
    const std::optional<ipv4_endpoint> endpoint = ipv4_endpoint_of(to);
    if (!endpoint) {
        error = "the relay host " + destination.host + " has no IPv4 address";
        return false;
    }
    if (endpoint->is_limited_broadcast() || endpoint->is_multicast() || endpoint->is_unspecified()) {
        error = "the relay sends to one unicast address, and " + endpoint->text() + " is not one";
        return false;
    }
    if (endpoint->is_loopback() && endpoint->port == listen_port) {
        error = "relaying to " + endpoint->text() + " would send every datagram back to this listener";
        return false;
    }
    socket_ = socket_api::open_udp();
    if (socket_ == socket_api::invalid_socket || !socket_api::bind_any(socket_, 0)) {
        error = "cannot open the relay's socket (system error " + std::to_string(socket_api::last_error()) + ")";
        return false;
    }
    local_port_ = socket_api::local_port(socket_);
    to_ = to;
    endpoint_ = *endpoint;
    return true;
}

void motion_relay::forward(const std::uint8_t* bytes, std::size_t length, const socket_api::address* from) noexcept
{
    if (socket_ == socket_api::invalid_socket) return;
    if (from) {
        const std::optional<ipv4_endpoint> sender = ipv4_endpoint_of(*from);
        if (sender && sender->port == local_port_) {
            ++counts_.echoes;
            return;
        }
    }
    if (socket_api::send_to(socket_, bytes, length, to_))
        ++counts_.forwarded;
    else
        ++counts_.failed;
}

}  // namespace tools
