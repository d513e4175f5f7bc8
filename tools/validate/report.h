// The validator's reports: a table on the terminal, JUnit XML and JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/validate/check_list.h"
#include "tools/validate/check_result.h"

namespace validate {

struct run_report {
    std::string plugin;  // the path as given
    std::uint64_t seed = 0;
    bool quick = false;
    double budget_ms = 0.0;
    double seconds = 0.0;
    std::vector<std::pair<const check_info*, check_result>> results;  // in run order
    // The recording the checks flew instead of the built-in flight (empty
    // for the built-in one), how many of its frames, and what they used in
    // one sentence (where it is damaged, if it is).
    std::string recording;
    std::uint64_t recording_frames = 0;
    std::string recording_used;

    std::size_t count(outcome result) const noexcept;
    std::size_t skipped() const noexcept { return count(outcome::skipped) + count(outcome::not_run); }
    std::size_t warnings() const noexcept;  // over all checks
};

// The table's heading, and its line for one check (check, result, figure or
// reason; a failure's call and frame, its frames, the notes and the warnings
// on lines below).
void write_table_heading(std::FILE* out);
void write_table_line(std::FILE* out, const check_info& check, const check_result& result);
// The line after the table: "validate: 30 passed, 1 failed, 2 skipped, 1 warning in 23.0 s".
void write_summary_line(std::FILE* out, const run_report& report);

std::string junit_report(const run_report& report);
std::string json_report(const run_report& report);

// `text` with every byte that is not part of valid UTF-8 replaced by U+FFFD:
// module and file names come in the system's code page.
std::string valid_utf8(std::string_view text);

}  // namespace validate
