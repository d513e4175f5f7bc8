#include "tools/validate/validate_options.h"

#include <cstdio>
#include <string_view>

#include "tools/common/argument_reader.h"
#include "tools/common/command_line.h"
#include "tools/common/output_files.h"

namespace validate {

const char* const validate_usage =
    "usage: validate [options] PLUGIN.dll\n"
    "Checks a plug-in DLL: its file, its lifecycle, its timing, its handling of the stream and its\n"
    "resources, each check in a process of its own. The plug-in runs as in a simulator, network\n"
    "traffic included.\n"
    "  --list          print the checks and their groups, then exit\n"
    "  --only LIST     run only these checks or groups, comma-separated (e.g. stream,timing.init)\n"
    "  --skip LIST     leave these checks or groups out\n"
    "  --quick         shorter runs of the timing, stream and resource checks\n"
    "  --seed N        seed of the random frames (default: chosen and printed)\n"
    "  --budget MS     Update's p99 time budget in milliseconds (default 5)\n"
    "  --hang-limit S  seconds a call may take before it counts as a hang (default 10)\n"
    "  --recording FILE  fly the frames of this recording (host --record) instead of the built-in\n"
    "                  flight in the lifecycle, stream, resource and timing checks\n"
    "  --junit FILE    also write a JUnit XML report\n"
    "  --json FILE     also write a JSON report\n"
    "A plug-in whose name starts with - goes after --.\n"
    "Exit status: 0 when no check failed, 1 when one did, 2 for a wrong command line, 3 when none\n"
    "failed but the validator could not run a check or write a report.\n";

bool parse_validate_options(int argc, const char* const* argv, validate_options& options, std::string& error)
{
    options = validate_options{};
    validate_options& o = options;
    std::string only;
    std::string skip;
    const auto add_to = [](std::string& list) {
        return [&list](std::string_view v) {
            list += list.empty() ? "" : ",";
            list += v;
            return true;
        };
    };
    const auto help = [&o](std::string_view) { return o.help = true; };
    const std::vector<tools::command_option> table = {
        {"--help", "", help},
        {"-h", "", help},
        {"--list", "", [&o](std::string_view) { return o.list = true; }},
        {"--quick", "", [&o](std::string_view) { return o.quick = true; }},
        {"--only", "checks or groups, comma-separated", add_to(only)},
        {"--skip", "checks or groups, comma-separated", add_to(skip)},
        {"--seed", "a whole number",
         [&o](std::string_view v) { return (o.seed = tools::parse_unsigned(v, 0, UINT64_MAX)).has_value(); }},
        {"--budget", "milliseconds above 0 and at most 1000",
         [&o](std::string_view v) {
             const std::optional<double> budget = tools::parse_decimal(v, 0.0, 1000.0);
             return budget && *budget > 0.0 && tools::store(budget, o.budget_ms);
         }},
        // Within a check's own limit of 60 s, with room for the check.
        {"--hang-limit", "seconds from 0.5 to 30",
         [&o](std::string_view v) { return tools::store(tools::parse_decimal(v, 0.5, 30.0), o.hang_limit_seconds); }},
        {"--junit", "a file name", [&o](std::string_view v) { return !(o.junit_path = v).empty(); }},
        {"--json", "a file name", [&o](std::string_view v) { return !(o.json_path = v).empty(); }},
        {"--recording", "a recording file", [&o](std::string_view v) { return !(o.recording_path = v).empty(); }},
        {"--recording-frames", "a whole number above 0",
         [&o](std::string_view v) {
             return tools::store(tools::parse_unsigned(v, 1, UINT64_MAX), o.recording_frames);
         }},
        {"--name-offsets", "offsets, comma-separated",
         [&o](std::string_view v) { return !(o.name_offsets = v).empty(); }},
        {"--child", "a check name", [&o](std::string_view v) { return !(o.child_check = v).empty(); }},
        {"--channel", "a handle number",
         [&o](std::string_view v) { return tools::store(tools::parse_unsigned(v, 1, UINT64_MAX), o.channel); }},
    };
    const auto plugin = [&o](std::string_view operand, std::string& why) {
        if (!o.plugin_path.empty()) {
            why = "one plug-in only: \"" + std::string(operand) + "\" is one too many";
            return false;
        }
        o.plugin_path = operand;
        return true;
    };
    if (!tools::read_arguments(argc, argv, table, plugin, error)) return false;
    if (options.help || options.list) return true;
    if (options.plugin_path.empty()) {
        error = "no plug-in named";
        return false;
    }
    if (!options.name_offsets.empty()) return true;
    if (!options.child_check.empty()) {
        const check_info* check = find_check(options.child_check);
        if (check == nullptr || options.channel == 0) {
            error = "--child wants a check name and --channel";
            return false;
        }
        options.checks = {check};
        return true;
    }
    return select_checks(only, skip, options.checks, error);
}

bool check_report_targets(const validate_options& options, std::string& error)
{
    std::vector<tools::output_file> reports;
    if (!options.junit_path.empty()) reports.push_back({"--junit", options.junit_path});
    if (!options.json_path.empty()) reports.push_back({"--json", options.json_path});
    std::vector<tools::input_file> inputs = {{options.plugin_path, "the plug-in " + options.plugin_path + " itself"}};
    if (!options.recording_path.empty())
        inputs.push_back({options.recording_path, "the recording " + options.recording_path});
    return tools::check_outputs(reports, inputs, error);
}

std::vector<std::string> child_arguments(const validate_options& options, std::string_view check, std::uint64_t channel)
{
    char budget[32];
    std::snprintf(budget, sizeof budget, "%.17g", options.budget_ms);
    std::vector<std::string> arguments = {
        "--child", std::string(check), "--channel", std::to_string(channel), "--budget", budget};
    if (options.seed) arguments.insert(arguments.end(), {"--seed", std::to_string(*options.seed)});
    if (options.quick) arguments.emplace_back("--quick");
    if (!options.recording_path.empty())
        arguments.insert(arguments.end(), {"--recording", options.recording_path, "--recording-frames",
                                           std::to_string(options.recording_frames)});
    arguments.insert(arguments.end(), {"--", options.plugin_path});
    return arguments;
}

}  // namespace validate

namespace validate {

std::string windows_command_line(const std::vector<std::string>& arguments)
{
    std::string line;
    for (const std::string& argument : arguments) {
        if (!line.empty()) line += ' ';
        if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
            line += argument;
            continue;
        }
        // Inside quotes, backslashes are literal unless they precede a quote:
        // then each one is doubled, and the quote itself escaped.
        line += '"';
        std::size_t backslashes = 0;
        for (char c : argument) {
            if (c == '\\') {
                ++backslashes;
            } else if (c == '"') {
                line.append(backslashes * 2 + 1, '\\');
                line += '"';
                backslashes = 0;
            } else {
                line.append(backslashes, '\\');
                line += c;
                backslashes = 0;
            }
        }
        line.append(backslashes * 2, '\\');
        line += '"';
    }
    return line;
}

}  // namespace validate
