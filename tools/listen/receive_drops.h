// The datagrams the system dropped before the listener could read them,
// because the socket's receive buffer was full: what the system can say of
// them. Linux counts them for each socket (the counter that SO_RXQ_OVFL
// reports with each datagram, read here with SO_MEMINFO at any moment, so
// that drops after the last datagram read count too). Windows counts the UDP
// datagrams it discarded only for the whole machine, every program's sockets
// together (GetUdpStatistics).
#pragma once

#include <cstdint>
#include <optional>

#include "telemetry/socket_api.h"

namespace tools {

struct system_drops {
    std::uint64_t datagrams = 0;
    bool whole_machine = false;  // counted for every socket of the machine
};

class receive_drop_counter {
public:
    // Starts counting: from the socket's making where the system counts for
    // each socket, from now where it counts for the whole machine.
    explicit receive_drop_counter(socket_api::socket_handle socket) noexcept;
    // The drops counted, or nothing where the system does not count them.
    std::optional<system_drops> since_start() const noexcept;

private:
    std::optional<std::uint32_t> count() const noexcept;  // the system's counter, modulo 2^32

    // Read where the system counts for each socket (Linux); Windows counts
    // for the whole machine and needs no socket.
    [[maybe_unused]] socket_api::socket_handle socket_;
    std::optional<std::uint32_t> start_;
};

}  // namespace tools
