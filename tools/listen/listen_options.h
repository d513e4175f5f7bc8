// The motion listener's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/common/command_line.h"
#include "tools/listen/motion_relay.h"

namespace tools {

struct listen_options {
    std::uint16_t port = 50001;
    std::string csv_path;
    std::optional<std::uint64_t> count;  // stop after this many valid datagrams
    std::optional<double> duration;  // stop after this many seconds
    relay_settings relay;  // no destinations: no relay
    std::string group;  // a multicast group to join, or none
    std::uint64_t every = 1;  // print every n-th valid datagram in the table
    bool derive = false;  // add the derived accelerations
    bool quiet = false;  // no table, only the summary
    bool help = false;
};

// What --group takes.
inline constexpr std::string_view multicast_group_wanted = "an IPv4 multicast address (224.0.0.0 to 239.255.255.255)";

// Fills `options` from the arguments after the program name. On a mistake
// returns false with one sentence in `error`.
bool parse_listen_options(int argc, const char* const* argv, listen_options& options, std::string& error);

extern const char* const listen_usage;

}  // namespace tools
