#include "tools/listen/listen_options.h"

#include <string_view>

namespace tools {

const char* const listen_usage =
    "usage: listen [options]\n"
    "Receives motion datagrams and prints them as a table, then a summary.\n"
    "  --port N          UDP port to listen on (default 50001)\n"
    "  --csv FILE        also write every valid datagram to FILE as CSV\n"
    "  --count N         stop after N valid datagrams\n"
    "  --duration TIME   stop after this long: 10, 10s, 500ms, 2m\n"
    "  --relay HOST:PORT forward every valid datagram unchanged to this unicast address\n"
    "  --every N         print only every N-th datagram in the table (default 1)\n"
    "  --quiet           no table, only the summary\n"
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
        } else if (arg == "--csv") {
            if (!value()) return false;
            options.csv_path = v;
        } else if (arg == "--count") {
            if (!value()) return false;
            options.count = parse_unsigned(v, 1, UINT64_MAX);
            if (!options.count) return bad("a whole number above 0");
        } else if (arg == "--duration") {
            if (!value()) return false;
            options.duration = parse_duration(v);
            if (!options.duration) return bad("a time such as 10, 10s or 500ms");
        } else if (arg == "--relay") {
            if (!value()) return false;
            options.relay = parse_host_port(v);
            if (!options.relay) return bad("HOST:PORT");
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
    return true;
}

}  // namespace tools
