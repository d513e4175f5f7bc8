#include "tools/listen/listen_options.h"

#include <string_view>
#include <vector>

#include "tools/common/argument_reader.h"

namespace tools {

const char* const listen_usage =
    "usage: listen [options]\n"
    "Receives motion datagrams and prints them as a table, then a summary.\n"
    "  --port N           UDP port to listen on (default 50001)\n"
    "  --group ADDR       also receive the IPv4 multicast group ADDR\n"
    "  --interface ADDR   the local interface (its IPv4 address) for --group and multicast relaying\n"
    "  --csv FILE         also write every valid datagram to FILE as CSV\n"
    "  --derive           add accelerations derived from successive datagrams\n"
    "  --count N          stop after N valid datagrams\n"
    "  --duration TIME    stop after this long: 10, 10s, 500ms, 2m\n"
    "  --relay HOST:PORT  forward every valid datagram unchanged to this unicast address or\n"
    "                     multicast group; may be given several times\n"
    "  --ttl N            time to live of relayed multicast (default 1: the local network)\n"
    "  --relay-rate HZ    forward at most HZ datagrams a second, the newest of each period\n"
    "  --every N          print only every N-th datagram in the table (default 1)\n"
    "  --quiet            no table, only the summary\n"
    "Without --count or --duration it runs until Ctrl-C.\n";

bool parse_listen_options(int argc, const char* const* argv, listen_options& options, std::string& error)
{
    options = listen_options{};
    listen_options& o = options;
    relay_settings& relay = options.relay;
    const auto help = [&o](std::string_view) { return o.help = true; };
    const std::vector<command_option> table = {
        {"--help", "", help},
        {"-h", "", help},
        {"--port", "a port from 1 to 65535",
         [&o](std::string_view v) {
             const auto port = parse_unsigned(v, 1, 65535);
             if (port) o.port = static_cast<std::uint16_t>(*port);
             return port.has_value();
         }},
        {"--group", multicast_group_wanted, [&o](std::string_view v) { return !(o.group = v).empty(); }},
        // For --group too.
        {"--interface", "an IPv4 address of this machine",
         [&relay](std::string_view v) { return !(relay.multicast_interface = v).empty(); }},
        {"--csv", "a file name", [&o](std::string_view v) { return !(o.csv_path = v).empty(); }},
        {"--derive", "", [&o](std::string_view) { return o.derive = true; }},
        {"--count", "a whole number above 0",
         [&o](std::string_view v) { return (o.count = parse_unsigned(v, 1, UINT64_MAX)).has_value(); }},
        {"--duration", "a time up to a year such as 10, 10s or 500ms",
         [&o](std::string_view v) { return (o.duration = parse_duration(v)).has_value(); }},
        {"--relay", "HOST:PORT",
         [&relay](std::string_view v) {
             const std::optional<host_port> destination = parse_host_port(v);
             if (destination) relay.destinations.push_back(*destination);
             return destination.has_value();
         }},
        {"--ttl", "a time to live from 1 to 255",
         [&relay](std::string_view v) {
             const auto ttl = parse_unsigned(v, 1, 255);
             if (ttl) relay.multicast_ttl = static_cast<int>(*ttl);
             return ttl.has_value();
         }},
        {"--relay-rate", "datagrams per second from 0.01 to 10000",
         [&relay](std::string_view v) {
             return (relay.rate = parse_decimal(v, lowest_rate, highest_rate)).has_value();
         }},
        {"--every", "a whole number above 0",
         [&o](std::string_view v) { return store(parse_unsigned(v, 1, UINT64_MAX), o.every); }},
        {"--quiet", "", [&o](std::string_view) { return o.quiet = true; }},
    };
    const auto no_operands = [](std::string_view operand, std::string& why) {
        why = "unknown argument " + std::string(operand);
        return false;
    };
    if (!read_arguments(argc, argv, table, no_operands, error)) return false;
    const bool relaying = !options.relay.destinations.empty();
    if (!relaying && options.relay.rate) {
        error = "--relay-rate applies to --relay";
        return false;
    }
    if (!relaying && options.relay.multicast_ttl != 1) {
        error = "--ttl applies to --relay to a multicast group";
        return false;
    }
    if (!relaying && options.group.empty() && !options.relay.multicast_interface.empty()) {
        error = "--interface applies to --group and to --relay to a multicast group";
        return false;
    }
    return true;
}

}  // namespace tools
