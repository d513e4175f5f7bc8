// One UDP socket kept for the plug-in's life: SO_BROADCAST, bound to
// INADDR_ANY on a system-chosen port, destination resolved once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include <skarvel/shared/input/tm_fixed_string.h>

#include "telemetry/motion_datagram.h"
#include "telemetry/socket_api.h"

class udp_broadcaster {
public:
    using clock = std::chrono::steady_clock;

    // After a failed open, the next attempt waits this long.
    static constexpr clock::duration retry_interval = std::chrono::seconds(1);

    // The product always sends to 255.255.255.255:50001; tools and tests may
    // name another destination. Both texts are copied.
    explicit udp_broadcaster(const char* host = "255.255.255.255", const char* service = "50001") noexcept;
    ~udp_broadcaster();
    udp_broadcaster(const udp_broadcaster&) = delete;
    udp_broadcaster& operator=(const udp_broadcaster&) = delete;

    // Sends one datagram, opening the socket on first use. Where the socket
    // cannot be made nothing is sent, and the next attempt waits
    // retry_interval rather than retrying on every frame.
    void send(const std::uint8_t* bytes, std::size_t length) noexcept;
    // The same, with the caller's reading of the clock.
    void send(const std::uint8_t* bytes, std::size_t length, clock::time_point now) noexcept;

    // Closes the socket and stops the socket layer where it was started
    // here; the plug-in's stop calls it. The next send opens a new socket.
    void close() noexcept;

    bool is_open() const noexcept;

    // The system-chosen source port of the open socket, or 0.
    std::uint16_t local_port() const noexcept;

private:
    bool open(clock::time_point now) noexcept;
    void close_socket() noexcept;

    tm_fixed_string host_;
    tm_fixed_string service_;
    socket_api::socket_handle socket_ = socket_api::invalid_socket;
    socket_api::address destination_;
    bool layer_started_ = false;
    bool open_failed_ = false;
    clock::time_point failed_at_{};
};

// The broadcast step of a frame: nothing for an empty frame (no socket call);
// otherwise one datagram of the frame's motion values.
void broadcast_motion(const tm_message_list& frame, udp_broadcaster& broadcaster) noexcept;
