// One UDP socket kept for the plug-in's life: SO_BROADCAST, bound to
// INADDR_ANY on a system-chosen port, destination resolved once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "telemetry/motion_datagram.h"
#include "telemetry/socket_api.h"

class udp_broadcaster {
public:
    // The product always sends to 255.255.255.255:50001; tools and tests may
    // name another destination.
    explicit udp_broadcaster(const char* host = "255.255.255.255", const char* service = "50001") noexcept;
    ~udp_broadcaster();
    udp_broadcaster(const udp_broadcaster&) = delete;
    udp_broadcaster& operator=(const udp_broadcaster&) = delete;

    // Sends one datagram, opening the socket on first use. Where the socket
    // cannot be made nothing is sent, and the next attempt waits a while
    // rather than retrying on every frame.
    void send(const std::uint8_t* bytes, std::size_t length) noexcept;

    // Closes the socket (and the socket layer, where it was started here).
    // The next send opens a new one.
    void close() noexcept;

    bool is_open() const noexcept;

private:
    // ... implementation state: socket handle, resolved destination and its
    // length, time of the last failed open, whether Windows Sockets was
    // started here.
};

// The broadcast step of a frame: nothing for an empty frame (no socket call);
// otherwise one datagram of the frame's motion values.
void broadcast_motion(const tm_message_list& frame, udp_broadcaster& broadcaster) noexcept;
