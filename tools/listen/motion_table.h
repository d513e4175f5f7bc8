// The listener's texts: the live table, the CSV file and the summary.
#pragma once

#include <string>

#include "telemetry/motion_datagram.h"
#include "tools/listen/motion_derivative.h"
#include "tools/listen/motion_statistics.h"

namespace tools {

struct relay_counts;

// With `derived`, the table and the CSV gain the derived accelerations; a
// row without them (`derived_values` null) shows "-" in the table and leaves
// the CSV fields empty.
std::string table_header(bool derived = false);
std::string table_row(const decoded_motion& motion, bool derived = false,
                      const derived_motion* derived_values = nullptr);

std::string csv_header(bool derived = false);
std::string csv_row(const decoded_motion& motion, double arrival, bool derived = false,
                    const derived_motion* derived_values = nullptr);

std::string summary_text(const motion_summary& summary, const relay_counts* relay);

}  // namespace tools
