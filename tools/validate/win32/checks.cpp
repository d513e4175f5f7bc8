#include "tools/validate/win32/checks.h"

namespace validate {

check_function find_check_function(std::string_view name) noexcept
{
    for (auto find : {find_file_check, find_lifecycle_check, find_timing_check, find_stream_check, find_resource_check})
        if (check_function run = find(name)) return run;
    return nullptr;
}

}  // namespace validate
