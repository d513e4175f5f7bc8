// The socket layer on POSIX systems: descriptors, poll and errno.
#include <ifaddrs.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "telemetry/socket_native.h"

namespace socket_api {

bool start() noexcept
{
    return true;
}

void stop() noexcept {}

socket_handle open_udp() noexcept
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd < 0 ? invalid_socket : static_cast<socket_handle>(fd);
}

bool send_to(socket_handle s, const void* bytes, std::size_t length, const address& to) noexcept
{
    const ssize_t sent =
        ::sendto(native(s), bytes, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(to.bytes), to.length);
    return sent >= 0 && static_cast<std::size_t>(sent) == length;
}

std::ptrdiff_t receive(socket_handle s, void* buffer, std::size_t capacity, int timeout_ms, address* from) noexcept
{
    sockaddr_storage sender{};
    socklen_t sender_length = sizeof sender;
    const auto read = [&](int flags) {
        return ::recvfrom(native(s), buffer, capacity, flags, reinterpret_cast<sockaddr*>(&sender), &sender_length);
    };
    // A datagram that is waiting already is read at once: one system call,
    // not two, for each datagram of a busy stream.
    ssize_t got = read(MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd waiting{native(s), POLLIN, 0};
        const int ready = ::poll(&waiting, 1, timeout_ms < 0 ? -1 : timeout_ms);
        if (ready == 0) return receive_timed_out;
        if (ready < 0) return receive_failed;
        sender_length = sizeof sender;
        got = read(0);
    }
    if (got < 0) return receive_failed;
    if (from != nullptr) {
        std::memcpy(from->bytes, &sender, sizeof from->bytes < sender_length ? sizeof from->bytes : sender_length);
        from->length = sender_length;
    }
    return got;
}

bool is_interface_address(in_addr wanted) noexcept
{
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0) return false;
    bool found = false;
    for (const ifaddrs* i = interfaces; i && !found; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        found = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr == wanted.s_addr;
    }
    ::freeifaddrs(interfaces);
    return found;
}

void close(socket_handle s) noexcept
{
    if (s != invalid_socket) ::close(native(s));
}

int last_error() noexcept
{
    return errno;
}

}  // namespace socket_api
