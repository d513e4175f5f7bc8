// The validator's checks: stable names, grouped, in the order of the report,
// what each needs of the plug-in, and the choice of checks that --only and
// --skip make. The checks are declared once, in check_registry.inc.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace validate {

// What a check needs of the plug-in, and how it may run: bits of
// check_info::needs.
inline constexpr unsigned file_only = 0;  // reads the file; the DLL is never loaded
inline constexpr unsigned loads = 1;  // loads the DLL and calls its entry points
inline constexpr unsigned unloads = 2;  // its verdict rests on FreeLibrary
inline constexpr unsigned alone = 4;  // measures time: runs when no other check runs

struct check_info {
    std::string_view name;  // "group.what", stable: scripts and CI jobs name checks by it
    std::string_view description;  // one line for --list
    unsigned needs = file_only;
    std::string_view body;  // the body's name: checks with the same body share one run
    std::size_t index = 0;  // its place in all_checks()

    bool has(unsigned need) const noexcept { return (needs & need) == need && need != 0; }
};

// Every check, grouped (file, lifecycle, stream, resources, timing).
const std::vector<check_info>& all_checks();

// The checks among `chosen` that share `check`'s body, `check` first.
std::vector<const check_info*> sharing_body(const check_info& check, const std::vector<const check_info*>& chosen);

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
