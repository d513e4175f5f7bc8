// Runs the chosen checks, each in a child process and a working folder of its
// own, side by side as far as the schedule allows, within the run's time
// limit, and writes each check's line of the table as soon as it and every
// check before it are done.
#pragma once

#include <cstdio>
#include <vector>

#include "tools/validate/check_result.h"
#include "tools/validate/validate_options.h"

namespace validate {

// The whole run ends within this: three minutes, less the time to start and
// to write the reports.
inline constexpr double run_limit_seconds = 170.0;

// The results in the order of options.checks. `options.plugin_path` must be
// absolute: the children run in other folders.
std::vector<check_result> run_checks_in_children(const validate_options& options, std::FILE* table);

}  // namespace validate
