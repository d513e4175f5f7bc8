// The checks' bodies, each run in a child process of its own: one function
// for each check of check_registry.inc, defined in checks_<group>.cpp.
#pragma once

#include "tools/validate/check_list.h"
#include "tools/validate/check_result.h"
#include "tools/validate/win32/check_support.h"

namespace validate {

using check_function = check_result (*)(const check_context&);

namespace bodies {
#define VALIDATE_CHECK(body, name, needs, description) check_result body(const check_context& context);
#include "tools/validate/check_registry.inc"
#undef VALIDATE_CHECK
}  // namespace bodies

// The body of a check of all_checks().
check_function check_body(const check_info& check) noexcept;

}  // namespace validate
