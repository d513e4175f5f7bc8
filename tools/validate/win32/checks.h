// The checks' bodies, each run in a child process of its own: one function
// per name of the check list.
#pragma once

#include <cstddef>
#include <string_view>

#include "tools/validate/check_result.h"
#include "tools/validate/win32/check_support.h"

namespace validate {

using check_function = check_result (*)(const check_context&);

// The body of the check of this name, or null.
check_function find_check_function(std::string_view name) noexcept;

// The groups' bodies, by group.
check_function find_file_check(std::string_view name) noexcept;
check_function find_lifecycle_check(std::string_view name) noexcept;
check_function find_timing_check(std::string_view name) noexcept;
check_function find_stream_check(std::string_view name) noexcept;
check_function find_resource_check(std::string_view name) noexcept;

// A group's table: names and bodies.
struct named_check {
    std::string_view name;
    check_function run;
};
template <std::size_t N>
check_function find_in(const named_check (&table)[N], std::string_view name) noexcept
{
    for (const named_check& entry : table)
        if (entry.name == name) return entry.run;
    return nullptr;
}

}  // namespace validate
