// The socket layer on POSIX systems: descriptors, poll and errno.
#include "telemetry/socket_api.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace socket_api {

namespace {

int descriptor(socket_handle s) noexcept { return static_cast<int>(s); }

}  // namespace

bool start() noexcept { return true; }

void stop() noexcept {}

socket_handle open_udp() noexcept
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd < 0 ? invalid_socket : static_cast<socket_handle>(fd);
}

bool enable_broadcast(socket_handle s) noexcept
{
    const int on = 1;
    return ::setsockopt(descriptor(s), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

bool bind_any(socket_handle s, std::uint16_t port, bool reuse_address) noexcept
{
    if (reuse_address) {
        const int on = 1;
        if (::setsockopt(descriptor(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    return ::bind(descriptor(s), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

std::uint16_t local_port(socket_handle s) noexcept
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(descriptor(s), reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
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
    const ssize_t sent = ::sendto(descriptor(s), bytes, length, MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(to.bytes), to.length);
    return sent >= 0 && static_cast<std::size_t>(sent) == length;
}

std::ptrdiff_t receive(socket_handle s, void* buffer, std::size_t capacity, int timeout_ms, address* from) noexcept
{
    pollfd waiting{descriptor(s), POLLIN, 0};
    const int ready = ::poll(&waiting, 1, timeout_ms < 0 ? -1 : timeout_ms);
    if (ready == 0) return receive_timed_out;
    if (ready < 0) return receive_failed;

    sockaddr_storage sender{};
    socklen_t sender_length = sizeof sender;
    const ssize_t got = ::recvfrom(descriptor(s), buffer, capacity, 0, reinterpret_cast<sockaddr*>(&sender),
                                   &sender_length);
    if (got < 0) return receive_failed;
    if (from != nullptr) {
        std::memcpy(from->bytes, &sender, sizeof from->bytes < sender_length ? sizeof from->bytes : sender_length);
        from->length = sender_length;
    }
    return got;
}

void close(socket_handle s) noexcept
{
    if (s != invalid_socket) ::close(descriptor(s));
}

int last_error() noexcept { return errno; }

}  // namespace socket_api
