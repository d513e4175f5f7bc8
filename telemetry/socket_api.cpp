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

template <typename T>
bool set_ip_option(socket_handle s, int option, const T& value) noexcept
{
    return ::setsockopt(native(s), IPPROTO_IP, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

// The IPv4 address of an address that resolve_ipv4() filled.
in_addr ipv4_of(const address& a) noexcept
{
    sockaddr_in in{};
    std::memcpy(&in, a.bytes, sizeof in);
    return in.sin_addr;
}

}  // namespace

bool enable_broadcast(socket_handle s) noexcept
{
    return enable_option(s, SO_BROADCAST);
}

bool set_receive_buffer(socket_handle s, int bytes) noexcept
{
    return ::setsockopt(native(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0;
}

bool bind_any(socket_handle s, std::uint16_t port, bool reuse_address) noexcept
{
    if (reuse_address && !enable_option(s, SO_REUSEADDR)) return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    return ::bind(native(s), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

bool connect_to(socket_handle s, const address& to) noexcept
{
    return ::connect(native(s), reinterpret_cast<const sockaddr*>(to.bytes), static_cast<native_length>(to.length)) ==
           0;
}

bool set_multicast_ttl(socket_handle s, int ttl) noexcept
{
    return set_ip_option(s, IP_MULTICAST_TTL, ttl);
}

bool set_multicast_interface(socket_handle s, const address& local_interface) noexcept
{
    return set_ip_option(s, IP_MULTICAST_IF, ipv4_of(local_interface));
}

bool join_multicast_group(socket_handle s, const address& group, const address* local_interface) noexcept
{
    ip_mreq request{};
    request.imr_multiaddr = ipv4_of(group);
    request.imr_interface.s_addr = local_interface ? ipv4_of(*local_interface).s_addr : htonl(INADDR_ANY);
    return set_ip_option(s, IP_ADD_MEMBERSHIP, request);
}

bool is_local_address(const address& a) noexcept
{
    const in_addr wanted = ipv4_of(a);
    return (ntohl(wanted.s_addr) >> 24) == 127 || is_interface_address(wanted);
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
