#include "tools/listen/motion_relay.h"

#include <algorithm>

#include "tools/common/system_error.h"

namespace tools {
namespace {

constexpr std::size_t addresses_remembered = 64;

// A socket for one question to the system, closed when it is answered.
struct probe_socket {
    socket_api::socket_handle handle = socket_api::open_udp();
    ~probe_socket() { socket_api::close(handle); }
};

// A broadcast address that the system knows (the limited one, the directed
// ones of its networks): connecting to it fails without SO_BROADCAST and
// succeeds with it. Nothing is sent.
bool is_broadcast_address(const socket_api::address& to) noexcept
{
    probe_socket plain, broadcasting;
    if (socket_api::connect_to(plain.handle, to)) return false;
    return socket_api::enable_broadcast(broadcasting.handle) && socket_api::connect_to(broadcasting.handle, to);
}

}  // namespace

std::string socket_error_text()
{
    return system_error_text(socket_api::last_error());
}

motion_relay::~motion_relay()
{
    socket_api::close(socket_);
}

bool motion_relay::open(const relay_settings& settings, std::uint16_t listen_port, std::string& error)
{
    known_addresses_.reserve(addresses_remembered);
    bool multicast = false;
    for (const host_port& destination : settings.destinations) {
        if (destination.host.find(':') != std::string::npos || destination.host.front() == '[') {
            error = "the relay sends over IPv4 only, and " + destination.host + " is an IPv6 address";
            return false;
        }
        const std::string service = std::to_string(destination.port);
        socket_api::address to;
        const int resolved = socket_api::resolve_ipv4(destination.host.c_str(), service.c_str(), to);
        if (resolved != 0) {
            error = "cannot resolve the relay host " + destination.host + ": " + resolve_error_text(resolved);
            return false;
        }
        const std::optional<ipv4_endpoint> endpoint = ipv4_endpoint_of(to);
        if (!endpoint) {
            error = "the relay host " + destination.host + " has no IPv4 address";
            return false;
        }
        if (endpoint->is_unspecified()) {
            error = "the relay cannot send to 0.0.0.0";
            return false;
        }
        if (endpoint->is_limited_broadcast() || (!endpoint->is_multicast() && is_broadcast_address(to))) {
            error = "the relay sends to unicast addresses and multicast groups, and " + endpoint->address_text() +
                    " is a broadcast address";
            return false;
        }
        if (endpoint->is_local_control_multicast()) {
            error = control_group_refusal(*endpoint);
            return false;
        }
        if (!endpoint->is_multicast() && endpoint->port == listen_port && is_local_address(*endpoint)) {
            error = "relaying to " + endpoint->text() + " would send every datagram back to this listener";
            return false;
        }
        if (std::find(endpoints_.begin(), endpoints_.end(), *endpoint) != endpoints_.end()) {
            error = "the relay destination " + endpoint->text() + " is named twice";
            return false;
        }
        multicast = multicast || endpoint->is_multicast();
        to_.push_back(to);
        endpoints_.push_back(*endpoint);
        counts_.failures.push_back({endpoint->text(), 0, 0});
    }
    if (!multicast && settings.multicast_ttl != 1) {
        error = "--ttl applies to multicast groups, and no relay destination is one";
        return false;
    }
    socket_ = socket_api::open_udp();
    if (socket_ == socket_api::invalid_socket || !socket_api::bind_any(socket_, 0)) {
        error = "cannot open the relay's socket: " + socket_error_text();
        return false;
    }
    if (multicast && !socket_api::set_multicast_ttl(socket_, settings.multicast_ttl)) {
        error = "cannot set the multicast time to live: " + socket_error_text();
        return false;
    }
    if (multicast && !settings.multicast_interface.empty()) {
        socket_api::address local;
        if (socket_api::resolve_ipv4(settings.multicast_interface.c_str(), nullptr, local) != 0 ||
            !socket_api::set_multicast_interface(socket_, local)) {
            error =
                "cannot send multicast by the interface " + settings.multicast_interface + ": " + socket_error_text();
            return false;
        }
    }
    local_port_ = socket_api::local_port(socket_);
    if (settings.rate) period_ = 1.0 / *settings.rate;
    return true;
}

relay_verdict motion_relay::take(const motion_datagram& datagram, const socket_api::address& from, double now)
{
    const std::optional<ipv4_endpoint> sender = ipv4_endpoint_of(from);
    if (sender && is_own_echo(*sender)) {
        ++counts_.echoes;
        return relay_verdict::own_echo;
    }
    if (sender && loop_guard_.is_copy(datagram, *sender, now)) {
        ++counts_.copies;
        return relay_verdict::copy;
    }
    // A datagram held back is replaced by this newer one: the newest of the
    // period waits, never a queue; one whose turn passed unseen is not sent.
    if (held_) ++counts_.held_back;
    if (period_ > 0.0 && last_sent_ && now < *last_sent_ + period_) {
        held_ = datagram;
    } else {
        held_.reset();
        send(datagram, now);
    }
    return relay_verdict::taken;
}

void motion_relay::flush(double now) noexcept
{
    const std::optional<double> when = due();
    if (!when || now < *when) return;
    const motion_datagram datagram = *held_;
    held_.reset();
    send(datagram, now);
}

std::optional<double> motion_relay::due() const noexcept
{
    if (!held_ || !last_sent_) return std::nullopt;
    return *last_sent_ + period_;
}

void motion_relay::finish() noexcept
{
    if (held_) ++counts_.held_back;
    held_.reset();
}

std::string motion_relay::destinations_text() const
{
    std::string text;
    for (const ipv4_endpoint& e : endpoints_) text += (text.empty() ? "" : ", ") + e.text();
    return text;
}

void motion_relay::send(const motion_datagram& datagram, double now) noexcept
{
    for (std::size_t i = 0; i < to_.size(); ++i) {
        if (socket_api::send_to(socket_, datagram.data(), datagram.size(), to_[i])) continue;
        ++counts_.failed;
        ++counts_.failures[i].sends;
        counts_.failures[i].last_error = socket_api::last_error();
    }
    ++counts_.forwarded;
    last_sent_ = now;
}

bool motion_relay::is_own_echo(const ipv4_endpoint& sender) noexcept
{
    return sender.port == local_port_ && is_local_address(sender);
}

bool motion_relay::is_local_address(const ipv4_endpoint& address) noexcept
{
    for (const auto& known : known_addresses_)
        if (known.first.same_address(address)) return known.second;
    ipv4_endpoint any_port = address;
    any_port.port = 0;
    const bool own = socket_api::is_local_address(any_port.socket_address());
    if (known_addresses_.size() >= addresses_remembered) known_addresses_.clear();
    known_addresses_.emplace_back(any_port, own);  // within the room reserved
    return own;
}

}  // namespace tools
