// The listener's texts: the live table, the CSV file and the summary.
#pragma once

#include <string>

#include "telemetry/motion_datagram.h"
#include "tools/listen/motion_statistics.h"

namespace tools {

std::string table_header();
std::string table_row(const decoded_motion& motion);

std::string csv_header();
std::string csv_row(const decoded_motion& motion, double arrival);

struct relay_counts {
    std::uint64_t forwarded = 0;
    std::uint64_t failed = 0;
    std::uint64_t echoes = 0;  // our own relayed datagrams come back: not sent again
};

std::string summary_text(const motion_summary& summary, const relay_counts* relay);

}  // namespace tools
