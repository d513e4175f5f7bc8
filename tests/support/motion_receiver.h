// A receiver of motion datagrams, as a listener on the local network would
// have it: bound to 0.0.0.0 on the given port, sharing the port with other
// receivers. It can keep only the datagrams of one sender, so that tests
// running side by side do not read each other's traffic.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "telemetry/socket_api.h"

class motion_receiver {
public:
    explicit motion_receiver(std::uint16_t port = 50001);
    ~motion_receiver();
    motion_receiver(const motion_receiver&) = delete;
    motion_receiver& operator=(const motion_receiver&) = delete;

    bool is_bound() const { return bound_; }

    // The next datagram sent from `source_port` (0: from any port) within
    // `timeout_ms`, or nothing.
    std::optional<std::vector<std::uint8_t>> receive(std::uint16_t source_port, int timeout_ms = 2000);

private:
    bool layer_started_;
    socket_api::socket_handle socket_;
    bool bound_ = false;
};
