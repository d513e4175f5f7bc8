#include "tools/listen/listen_options.h"

#include <string_view>

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
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string_view v;
        auto value = [&] {
            if (i + 1 >= argc) {
                error = std::string(arg) + " needs a value";
                return false;
            }
            v = argv[++i];
            return true;
        };
        auto bad = [&](const char* wants) {
            error = std::string(arg) + " wants " + wants + ", not \"" + std::string(v) + "\"";
            return false;
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--port") {
            if (!value()) return false;
            const auto port = parse_unsigned(v, 1, 65535);
            if (!port) return bad("a port from 1 to 65535");
            options.port = static_cast<std::uint16_t>(*port);
        } else if (arg == "--group") {
            if (!value()) return false;
            options.group = v;
        } else if (arg == "--interface") {
            if (!value()) return false;
            options.relay.multicast_interface = v;  // for --group too
        } else if (arg == "--csv") {
            if (!value()) return false;
            options.csv_path = v;
        } else if (arg == "--derive") {
            options.derive = true;
        } else if (arg == "--count") {
            if (!value()) return false;
            options.count = parse_unsigned(v, 1, UINT64_MAX);
            if (!options.count) return bad("a whole number above 0");
        } else if (arg == "--duration") {
            if (!value()) return false;
            options.duration = parse_duration(v);
            if (!options.duration) return bad("a time up to a year such as 10, 10s or 500ms");
        } else if (arg == "--relay") {
            if (!value()) return false;
            const std::optional<host_port> destination = parse_host_port(v);
            if (!destination) return bad("HOST:PORT");
            options.relay.destinations.push_back(*destination);
        } else if (arg == "--ttl") {
            if (!value()) return false;
            const auto ttl = parse_unsigned(v, 1, 255);
            if (!ttl) return bad("a time to live from 1 to 255");
            options.relay.multicast_ttl = static_cast<int>(*ttl);
        } else if (arg == "--relay-rate") {
            if (!value()) return false;
            options.relay.rate = parse_decimal(v, lowest_rate, highest_rate);
            if (!options.relay.rate) return bad("datagrams per second from 0.01 to 10000");
        } else if (arg == "--every") {
            if (!value()) return false;
            const auto every = parse_unsigned(v, 1, UINT64_MAX);
            if (!every) return bad("a whole number above 0");
            options.every = *every;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else {
            error = "unknown argument " + std::string(arg);
            return false;
        }
    }
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
