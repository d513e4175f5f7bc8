#include "tests/support/motion_receiver.h"

#include <chrono>

namespace {

// The port of an IPv4 socket address: bytes 2 and 3, in network order.
std::uint16_t port_of(const socket_api::address& a)
{
    return static_cast<std::uint16_t>(a.bytes[2] << 8 | a.bytes[3]);
}

}  // namespace

motion_receiver::motion_receiver(std::uint16_t port)
    : layer_started_(socket_api::start()), socket_(socket_api::open_udp())
{
    bound_ = socket_ != socket_api::invalid_socket && socket_api::bind_any(socket_, port, true);
}

motion_receiver::~motion_receiver()
{
    socket_api::close(socket_);
    if (layer_started_) socket_api::stop();
}

std::optional<std::vector<std::uint8_t>> motion_receiver::receive(std::uint16_t source_port, int timeout_ms)
{
    using clock = std::chrono::steady_clock;
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    std::uint8_t buffer[2048];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left < 0) return std::nullopt;
        socket_api::address from;
        const std::ptrdiff_t length =
            socket_api::receive(socket_, buffer, sizeof buffer, static_cast<int>(left), &from);
        if (length < 0) return std::nullopt;
        if (source_port == 0 || port_of(from) == source_port) return std::vector<std::uint8_t>(buffer, buffer + length);
    }
}
