// Receive-buffer drops on Linux: the socket's own counter.
#include <sys/socket.h>

#include "tools/listen/receive_drops.h"

#if defined(SO_MEMINFO)
#include <linux/sock_diag.h>
#endif

namespace tools {

// The socket's own counter starts at 0 when the socket is made: every drop
// since counts, those before the run too.
receive_drop_counter::receive_drop_counter(socket_api::socket_handle socket) noexcept
    : socket_(socket), start_(std::uint32_t{0})
{
}

std::optional<std::uint32_t> receive_drop_counter::count() const noexcept
{
#if defined(SO_MEMINFO)
    std::uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof memory;
    if (::getsockopt(static_cast<int>(socket_), SOL_SOCKET, SO_MEMINFO, memory, &length) != 0 ||
        length <= SK_MEMINFO_DROPS * sizeof memory[0])
        return std::nullopt;
    return memory[SK_MEMINFO_DROPS];
#else
    return std::nullopt;
#endif
}

std::optional<system_drops> receive_drop_counter::since_start() const noexcept
{
    const std::optional<std::uint32_t> now = count();
    if (!start_ || !now) return std::nullopt;
    return system_drops{static_cast<std::uint32_t>(*now - *start_), false};  // modulo 2^32
}

}  // namespace tools
