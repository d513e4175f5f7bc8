// The socket layer on Windows: Windows Sockets 2, select and WSAGetLastError.
#include <climits>
#include <cstring>

#include "telemetry/socket_native.h"

namespace socket_api {

bool start() noexcept
{
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void stop() noexcept
{
    ::WSACleanup();
}

socket_handle open_udp() noexcept
{
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
    return s == INVALID_SOCKET ? invalid_socket : static_cast<socket_handle>(s);
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

bool is_interface_address(in_addr wanted) noexcept
{
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) return false;
    alignas(SOCKET_ADDRESS_LIST) char buffer[8192];
    DWORD length = 0;
    const bool listed =
        ::WSAIoctl(s, SIO_ADDRESS_LIST_QUERY, nullptr, 0, buffer, sizeof buffer, &length, nullptr, nullptr) == 0;
    ::closesocket(s);
    if (!listed) return false;
    const auto* list = reinterpret_cast<const SOCKET_ADDRESS_LIST*>(buffer);
    for (INT i = 0; i < list->iAddressCount; ++i) {
        const SOCKET_ADDRESS& entry = list->Address[i];
        if (entry.lpSockaddr->sa_family != AF_INET) continue;
        if (reinterpret_cast<const sockaddr_in*>(entry.lpSockaddr)->sin_addr.s_addr == wanted.s_addr) return true;
    }
    return false;
}

void close(socket_handle s) noexcept
{
    if (s != invalid_socket) ::closesocket(native(s));
}

int last_error() noexcept
{
    return ::WSAGetLastError();
}

}  // namespace socket_api
