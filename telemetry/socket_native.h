// The system's own socket headers and the few types in which Windows Sockets
// and POSIX differ; included by the socket layer's sources only.
#pragma once

#include "telemetry/socket_api.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
namespace socket_api {
using native_socket = SOCKET;
using native_length = int;  // socklen_t's counterpart
}  // namespace socket_api
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
namespace socket_api {
using native_socket = int;
using native_length = socklen_t;
}  // namespace socket_api
#endif

namespace socket_api {

inline native_socket native(socket_handle s) noexcept
{
    return static_cast<native_socket>(s);
}

// Whether one of the machine's interfaces has this IPv4 address (getifaddrs,
// SIO_ADDRESS_LIST_QUERY).
bool is_interface_address(in_addr wanted) noexcept;

}  // namespace socket_api
