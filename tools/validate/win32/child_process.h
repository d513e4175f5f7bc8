// Runs one check in a child process: this program started again with
// --child, watched until it ends, ended when a call into the plug-in does not
// return within the call limit or the whole check within the check limit.
#pragma once

#include "tools/validate/check_list.h"
#include "tools/validate/check_result.h"
#include "tools/validate/validate_options.h"

namespace validate {

inline constexpr double check_limit_seconds = 180.0;

check_result run_in_child(const validate_options& options, const check_info& check);

}  // namespace validate
