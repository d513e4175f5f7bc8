// The validator's checks: stable names, grouped, in the order they run, and
// the choice of checks that --only and --skip make.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace validate {

struct check_info {
    std::string_view name;         // "group.what", stable: scripts and CI jobs name checks by it
    std::string_view description;  // one line for --list
};

// Every check, grouped (file, lifecycle, timing, stream, resources).
const std::vector<check_info>& all_checks();

// The group of a check name: the part before the dot.
std::string_view group_of(std::string_view name) noexcept;

// The check of this name, or null.
const check_info* find_check(std::string_view name) noexcept;

// The checks to run, in run order: those named in `only` (all when empty),
// less those named in `skip`. Each list holds check names or group names,
// separated by commas. False with one sentence in `error` for a name that is
// neither a check nor a group.
bool select_checks(std::string_view only, std::string_view skip, std::vector<const check_info*>& selected,
                   std::string& error);

}  // namespace validate
