// The socket calls that read alike on Windows Sockets and POSIX.
#include <cstring>

#include "telemetry/socket_native.h"

namespace socket_api {

namespace {

bool enable_option(socket_handle s, int option) noexcept
{
    const int on = 1;  // a BOOL on Windows, an int elsewhere: both 32-bit
    return ::setsockopt(native(s), SOL_SOCKET, option, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

}  // namespace

bool enable_broadcast(socket_handle s) noexcept { return enable_option(s, SO_BROADCAST); }

bool bind_any(socket_handle s, std::uint16_t port, bool reuse_address) noexcept
{
    if (reuse_address && !enable_option(s, SO_REUSEADDR)) return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    return ::bind(native(s), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

std::uint16_t local_port(socket_handle s) noexcept
{
    sockaddr_in local{};
    native_length length = sizeof local;
    if (::getsockname(native(s), reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
    return ntohs(local.sin_port);
}

int resolve_ipv4(const char* host, const char* service, address& out) noexcept
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* result_list = nullptr;
    const int status = ::getaddrinfo(host, service, &hints, &result_list);
    if (status != 0) return status;
    if (result_list->ai_addrlen <= sizeof out.bytes) {
        std::memcpy(out.bytes, result_list->ai_addr, result_list->ai_addrlen);
        out.length = static_cast<std::uint32_t>(result_list->ai_addrlen);
    }
    ::freeaddrinfo(result_list);
    return 0;
}

}  // namespace socket_api
