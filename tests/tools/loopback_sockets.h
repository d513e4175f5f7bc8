// Sockets on the loopback interface for the listener's and the relay's
// tests: every datagram goes to 127.0.0.0/8 or a multicast group routed onto
// lo, and only inside a private network namespace.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "telemetry/motion_datagram.h"
#include "telemetry/socket_api.h"
#include "tests/support/private_network.h"

namespace loopback {

// A UDP socket bound to a free port, closed at the end of the test.
struct bound_socket {
    socket_api::socket_handle handle = socket_api::open_udp();
    std::uint16_t port = 0;
    bound_socket()
    {
        EXPECT_NE(handle, socket_api::invalid_socket);
        EXPECT_TRUE(socket_api::bind_any(handle, 0));
        port = socket_api::local_port(handle);
    }
    ~bound_socket() { socket_api::close(handle); }
    bound_socket(const bound_socket&) = delete;
    bound_socket& operator=(const bound_socket&) = delete;

    // The next datagram within `timeout_ms`, or nothing.
    std::optional<std::vector<std::uint8_t>> next(int timeout_ms = 2000) const
    {
        std::vector<std::uint8_t> buffer(65536);
        const std::ptrdiff_t got = socket_api::receive(handle, buffer.data(), buffer.size(), timeout_ms);
        if (got < 0) return std::nullopt;
        buffer.resize(static_cast<std::size_t>(got));
        return buffer;
    }
};

inline socket_api::address to(const char* host, std::uint16_t port)
{
    socket_api::address a;
    EXPECT_EQ(socket_api::resolve_ipv4(host, std::to_string(port).c_str(), a), 0) << host;
    return a;
}

// A motion datagram whose time and forward speed tell it apart.
inline motion_datagram motion(std::uint32_t time_us, double speed = 1.0)
{
    motion_sample sample;
    sample.simulation_time = time_us / 1e6;
    sample.aircraft_velocity = {speed, 2.0, 3.0};
    return encode_motion_datagram(sample);
}

inline std::vector<std::uint8_t> bytes_of(const motion_datagram& d)
{
    return {d.begin(), d.end()};
}

inline std::string read_all(std::FILE* file)
{
    std::rewind(file);
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    return text;
}

class socket_layer_environment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(socket_api::start()); }
    void TearDown() override { socket_api::stop(); }
};

}  // namespace loopback
