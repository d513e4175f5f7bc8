#include "tools/validate/win32/checks.h"

namespace validate {

check_function check_body(const check_info& check) noexcept
{
    // In the order of all_checks(), which is the registry's.
    static const check_function table[] = {
#define VALIDATE_CHECK(body, name, needs, description) bodies::body,
#include "tools/validate/check_registry.inc"
#undef VALIDATE_CHECK
    };
    return check.index < sizeof table / sizeof table[0] ? table[check.index] : nullptr;
}

}  // namespace validate
