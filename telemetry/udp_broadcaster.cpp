#include "telemetry/udp_broadcaster.h"

udp_broadcaster::udp_broadcaster(const char* host, const char* service) noexcept
    : host_(tm_fixed_string::from_chars(host, tm_fixed_string::max_length)),
      service_(tm_fixed_string::from_chars(service, tm_fixed_string::max_length))
{
}

// Unloading without the plug-in's stop still releases the socket. The socket
// layer is left as it is: Windows must not clean it up while it unloads a
// library, and the stop has done so already on the usual way out.
udp_broadcaster::~udp_broadcaster()
{
    close_socket();
}

void udp_broadcaster::send(const std::uint8_t* bytes, std::size_t length) noexcept
{
    if (is_open())
        socket_api::send_to(socket_, bytes, length, destination_);
    else
        send(bytes, length, clock::now());
}

void udp_broadcaster::send(const std::uint8_t* bytes, std::size_t length, clock::time_point now) noexcept
{
    if (!is_open() && !open(now)) return;
    // A failed send loses this datagram only; the socket stays.
    socket_api::send_to(socket_, bytes, length, destination_);
}

void udp_broadcaster::close() noexcept
{
    close_socket();
    if (layer_started_) socket_api::stop();
    layer_started_ = false;
    open_failed_ = false;
}

bool udp_broadcaster::is_open() const noexcept
{
    return socket_ != socket_api::invalid_socket;
}

std::uint16_t udp_broadcaster::local_port() const noexcept
{
    return is_open() ? socket_api::local_port(socket_) : 0;
}

bool udp_broadcaster::open(clock::time_point now) noexcept
{
    if (open_failed_ && now - failed_at_ < retry_interval) return false;

    if (!layer_started_) layer_started_ = socket_api::start();
    if (layer_started_) {
        socket_ = socket_api::open_udp();
        socket_api::address destination;
        const bool ready = is_open() && socket_api::enable_broadcast(socket_) && socket_api::bind_any(socket_, 0) &&
                           socket_api::resolve_ipv4(host_.GetCString(), service_.GetCString(), destination) == 0;
        if (ready) {
            destination_ = destination;
            open_failed_ = false;
            return true;
        }
    }
    // A socket that cannot broadcast from a bound port to a resolved address
    // is of no use: give it back and try again later.
    close_socket();
    open_failed_ = true;
    failed_at_ = now;
    return false;
}

void udp_broadcaster::close_socket() noexcept
{
    socket_api::close(socket_);
    socket_ = socket_api::invalid_socket;
}

void broadcast_motion(const tm_message_list& frame, udp_broadcaster& broadcaster) noexcept
{
    if (frame.empty()) return;
    const motion_datagram msg = encode_motion_datagram(select_motion(frame));
    broadcaster.send(msg.data(), msg.size());
}
