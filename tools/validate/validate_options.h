// The validator's command line. A child process that runs one check is
// started with the same options plus --child and --channel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/validate/check_list.h"

namespace validate {

// Update's p99 budget when --budget is not given, in milliseconds: under a
// third of a 60 Hz frame. It catches a stutter (a blocking call, a wait on a
// lock held while drawing) and not the pauses a busy machine, or Wine, adds
// to an Update that is fast; hold a plug-in to less with --budget.
inline constexpr double default_budget_ms = 5.0;

struct validate_options {
    std::string plugin_path;
    std::vector<const check_info*> checks;  // selected, in run order
    bool list = false;
    bool help = false;
    bool quick = false;
    std::optional<std::uint64_t> seed;  // of the random frames; chosen and printed when not given
    double budget_ms = default_budget_ms;
    double hang_limit_seconds = 10.0;  // a call into the plug-in that takes longer hangs
    std::string junit_path;
    std::string json_path;
    // A recording whose frames the checks fly instead of the built-in
    // flight, and how many of its frames they use (set once it has been
    // read through; given to a child).
    std::string recording_path;
    std::uint64_t recording_frames = 0;
    // In the process that names places in the plug-in: their offsets,
    // comma-separated.
    std::string name_offsets;
    // In a child: the check to run and the inherited handle of the channel.
    std::string child_check;
    std::uint64_t channel = 0;
};

// Fills `options` from the arguments after the program name; false with one
// sentence in `error` on a mistake.
bool parse_validate_options(int argc, const char* const* argv, validate_options& options, std::string& error);

// Checks the report files before any check runs: files that can be
// written, not folders, not the plug-in and not one another, however each
// is spelt (the files themselves are compared). False with one sentence.
bool check_report_targets(const validate_options& options, std::string& error);

// The arguments that make a child run `check` with the same settings.
std::vector<std::string> child_arguments(const validate_options& options, std::string_view check,
                                         std::uint64_t channel);

extern const char* const validate_usage;

}  // namespace validate

namespace validate {

// One Windows command line of these arguments, each quoted so that the
// C runtime's parsing (CommandLineToArgvW's rules) gives them back unchanged.
std::string windows_command_line(const std::vector<std::string>& arguments);

}  // namespace validate
