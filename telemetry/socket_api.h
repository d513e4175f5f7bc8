// The few socket calls a UDP sender or receiver needs, alike on Windows
// Sockets and POSIX. Each platform has one small source file behind this
// header. No call throws; failures show in the result, and last_error()
// tells the system's reason.
#pragma once

#include <cstddef>
#include <cstdint>

namespace socket_api {

// A Windows SOCKET or a POSIX descriptor, widened to one type.
using socket_handle = std::uintptr_t;
inline constexpr socket_handle invalid_socket = ~socket_handle{0};

// A socket address as the system hands it: room for any address family and
// the length of the address actually held.
struct address {
    alignas(8) unsigned char bytes[128] = {};
    std::uint32_t length = 0;
};

// Starts the socket layer for one user: WSAStartup (version 2.2) on Windows,
// nothing elsewhere. Each start that returned true is paired with one stop.
bool start() noexcept;
void stop() noexcept;

// A new IPv4 UDP socket (AF_INET, SOCK_DGRAM), or invalid_socket.
socket_handle open_udp() noexcept;

// Lets the socket send to broadcast addresses (SO_BROADCAST).
bool enable_broadcast(socket_handle s) noexcept;

// Asks for a receive buffer of `bytes` (SO_RCVBUF), which the system may
// grant in part: room for a burst of datagrams while the reader is busy.
bool set_receive_buffer(socket_handle s, int bytes) noexcept;

// Binds to 0.0.0.0 and `port`; port 0 lets the system choose. With
// `reuse_address`, SO_REUSEADDR is set first, so receivers can share a port.
bool bind_any(socket_handle s, std::uint16_t port, bool reuse_address = false) noexcept;

// Whether the IPv4 address in `a` is one of this machine's own: any of
// 127.0.0.0/8, or an address of one of its interfaces (getifaddrs,
// SIO_ADDRESS_LIST_QUERY).
bool is_local_address(const address& a) noexcept;

// Connects a datagram socket to `to`. Nothing is sent: the system only looks
// up the route, and refuses a broadcast address unless enable_broadcast() was
// called first (EACCES, WSAEACCES).
bool connect_to(socket_handle s, const address& to) noexcept;

// Multicast: the time to live of the datagrams this socket sends to groups
// (1 keeps them on the local network), the local interface they leave by,
// and joining a group to receive it, on `local_interface` or the system's choice
// when it is null. Every address is an IPv4 one from resolve_ipv4().
bool set_multicast_ttl(socket_handle s, int ttl) noexcept;
bool set_multicast_interface(socket_handle s, const address& local_interface) noexcept;
bool join_multicast_group(socket_handle s, const address& group, const address* local_interface) noexcept;

// The local port of a bound socket, or 0.
std::uint16_t local_port(socket_handle s) noexcept;

// Resolves an IPv4 datagram address with getaddrinfo ("255.255.255.255",
// "50001"). On success copies the first result and its real length into
// `out`; on failure leaves `out` as it was. Returns getaddrinfo's status, 0
// on success.
int resolve_ipv4(const char* host, const char* service, address& out) noexcept;

// Sends one datagram to `to`, giving the system to.length. True when the
// whole datagram was accepted.
bool send_to(socket_handle s, const void* bytes, std::size_t length, const address& to) noexcept;

// Results of receive() other than a datagram's length.
inline constexpr std::ptrdiff_t receive_timed_out = -1;
inline constexpr std::ptrdiff_t receive_failed = -2;

// Waits at most `timeout_ms` milliseconds (negative: without limit) for one
// datagram and reads it into `buffer`; a longer datagram is cut to
// `capacity`. Returns the bytes read (0 for an empty datagram),
// receive_timed_out or receive_failed. `from`, when given, gets the sender.
std::ptrdiff_t receive(socket_handle s, void* buffer, std::size_t capacity, int timeout_ms,
                       address* from = nullptr) noexcept;

// Closes the socket; invalid_socket is ignored.
void close(socket_handle s) noexcept;

// The system's code for the last failed call on this thread
// (WSAGetLastError or errno).
int last_error() noexcept;

}  // namespace socket_api
