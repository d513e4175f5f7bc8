// The motion listener's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/common/command_line.h"

namespace tools {

struct listen_options {
    std::uint16_t port = 50001;
    std::string csv_path;
    std::optional<std::uint64_t> count;  // stop after this many valid datagrams
    std::optional<double> duration;  // stop after this many seconds
    std::optional<host_port> relay;
    std::uint64_t every = 1;  // print every n-th valid datagram in the table
    bool quiet = false;  // no table, only the summary
    bool help = false;
};

bool parse_listen_options(int argc, const char* const* argv, listen_options& options, std::string& error);

extern const char* const listen_usage;

}  // namespace tools
