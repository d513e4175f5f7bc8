// Receive-buffer drops on Windows: counted only for the whole machine.
#include <winsock2.h>
#include <iphlpapi.h>

#include "tools/listen/receive_drops.h"

namespace tools {

receive_drop_counter::receive_drop_counter(socket_api::socket_handle socket) noexcept : socket_(socket), start_(count())
{
}

std::optional<std::uint32_t> receive_drop_counter::count() const noexcept
{
    // UDP datagrams received and discarded for any reason but a port that
    // no one listens on: full receive buffers among them.
    MIB_UDPSTATS statistics{};
    if (GetUdpStatistics(&statistics) != NO_ERROR) return std::nullopt;
    return static_cast<std::uint32_t>(statistics.dwInErrors);
}

std::optional<system_drops> receive_drop_counter::since_start() const noexcept
{
    const std::optional<std::uint32_t> now = count();
    if (!start_ || !now) return std::nullopt;
    return system_drops{static_cast<std::uint32_t>(*now - *start_), true};  // modulo 2^32
}

}  // namespace tools
