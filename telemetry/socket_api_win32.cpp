// The socket layer on Windows: Windows Sockets 2, select and WSAGetLastError.
#include "telemetry/socket_api.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <cstring>

namespace socket_api {

namespace {

SOCKET native(socket_handle s) noexcept { return static_cast<SOCKET>(s); }

}  // namespace

bool start() noexcept
{
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void stop() noexcept { ::WSACleanup(); }

socket_handle open_udp() noexcept
{
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
    return s == INVALID_SOCKET ? invalid_socket : static_cast<socket_handle>(s);
}

bool enable_broadcast(socket_handle s) noexcept
{
    const BOOL on = TRUE;
    return ::setsockopt(native(s), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool bind_any(socket_handle s, std::uint16_t port, bool reuse_address) noexcept
{
    if (reuse_address) {
        const BOOL on = TRUE;
        if (::setsockopt(native(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) != 0)
            return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    return ::bind(native(s), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

std::uint16_t local_port(socket_handle s) noexcept
{
    sockaddr_in local{};
    int length = sizeof local;
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

bool send_to(socket_handle s, const void* bytes, std::size_t length, const address& to) noexcept
{
    if (length > INT_MAX) return false;
    const int sent = ::sendto(native(s), static_cast<const char*>(bytes), static_cast<int>(length), 0,
                              reinterpret_cast<const sockaddr*>(to.bytes), static_cast<int>(to.length));
    return sent != SOCKET_ERROR && static_cast<std::size_t>(sent) == length;
}

std::ptrdiff_t receive(socket_handle s, void* buffer, std::size_t capacity, int timeout_ms, address* from) noexcept
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(native(s), &readable);
    timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    const int ready = ::select(0, &readable, nullptr, nullptr, timeout_ms < 0 ? nullptr : &limit);
    if (ready == 0) return receive_timed_out;
    if (ready == SOCKET_ERROR) return receive_failed;

    sockaddr_storage sender{};
    int sender_length = sizeof sender;
    const int room = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
    int got = ::recvfrom(native(s), static_cast<char*>(buffer), room, 0, reinterpret_cast<sockaddr*>(&sender),
                         &sender_length);
    // A datagram longer than the buffer fills it and is cut, as on POSIX.
    if (got == SOCKET_ERROR && ::WSAGetLastError() == WSAEMSGSIZE) got = room;
    if (got == SOCKET_ERROR) return receive_failed;
    if (from != nullptr) {
        const std::size_t kept = sizeof from->bytes < static_cast<std::size_t>(sender_length)
                                     ? sizeof from->bytes
                                     : static_cast<std::size_t>(sender_length);
        std::memcpy(from->bytes, &sender, kept);
        from->length = static_cast<std::uint32_t>(sender_length);
    }
    return got;
}

void close(socket_handle s) noexcept
{
    if (s != invalid_socket) ::closesocket(native(s));
}

int last_error() noexcept { return ::WSAGetLastError(); }

}  // namespace socket_api
