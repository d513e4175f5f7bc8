#include "tools/validate/validate_options.h"

#include <cstdio>
#include <string_view>

#include "tools/common/command_line.h"

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
    "  --junit FILE    also write a JUnit XML report\n"
    "  --json FILE     also write a JSON report\n"
    "Exit status: 0 when no check failed, 1 when one did, 2 for a wrong command line, 3 when none\n"
    "failed but the validator could not run a check.\n";

bool parse_validate_options(int argc, const char* const* argv, validate_options& options, std::string& error)
{
    options = validate_options{};
    std::string only;
    std::string skip;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string_view v;
        auto value = [&] {
            if (i + 1 >= argc) {
                error = std::string(arg) + " needs a value";
                return false;
            }
            v = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "--quick") {
            options.quick = true;
        } else if (arg == "--only" || arg == "--skip") {
            if (!value()) return false;
            std::string& list = arg == "--only" ? only : skip;
            if (!list.empty()) list += ',';
            list += v;
        } else if (arg == "--seed") {
            if (!value()) return false;
            options.seed = tools::parse_unsigned(v, 0, UINT64_MAX);
            if (!options.seed) {
                error = "--seed wants a whole number, not \"" + std::string(v) + "\"";
                return false;
            }
        } else if (arg == "--budget") {
            if (!value()) return false;
            const std::optional<double> budget = tools::parse_decimal(v, 0.0, 1000.0);
            if (!budget || *budget <= 0.0) {
                error = "--budget wants milliseconds above 0 and at most 1000, not \"" + std::string(v) + "\"";
                return false;
            }
            options.budget_ms = *budget;
        } else if (arg == "--hang-limit") {
            if (!value()) return false;
            // Within a check's own limit of 60 s, with room for the check.
            const std::optional<double> limit = tools::parse_decimal(v, 0.5, 30.0);
            if (!limit) {
                error = "--hang-limit wants seconds from 0.5 to 30, not \"" + std::string(v) + "\"";
                return false;
            }
            options.hang_limit_seconds = *limit;
        } else if (arg == "--junit" || arg == "--json") {
            if (!value()) return false;
            if (v.empty()) {
                error = std::string(arg) + " needs a file name";
                return false;
            }
            (arg == "--junit" ? options.junit_path : options.json_path) = v;
        } else if (arg == "--child") {
            if (!value()) return false;
            options.child_check = v;
        } else if (arg == "--channel") {
            if (!value()) return false;
            const std::optional<std::uint64_t> channel = tools::parse_unsigned(v, 1, UINT64_MAX);
            if (!channel) {
                error = "--channel wants a handle number";
                return false;
            }
            options.channel = *channel;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + std::string(arg);
            return false;
        } else if (options.plugin_path.empty()) {
            options.plugin_path = arg;
        } else {
            error = "one plug-in only: \"" + std::string(arg) + "\" is one too many";
            return false;
        }
    }
    if (options.help || options.list) return true;
    if (options.plugin_path.empty()) {
        error = "no plug-in named";
        return false;
    }
    if (!options.junit_path.empty() && options.junit_path == options.json_path) {
        error = "--junit and --json name the same file";
        return false;
    }
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

std::vector<std::string> child_arguments(const validate_options& options, std::string_view check, std::uint64_t channel)
{
    char budget[32];
    std::snprintf(budget, sizeof budget, "%.17g", options.budget_ms);
    std::vector<std::string> arguments = {
        "--child", std::string(check), "--channel", std::to_string(channel), "--budget", budget};
    if (options.seed) arguments.insert(arguments.end(), {"--seed", std::to_string(*options.seed)});
    if (options.quick) arguments.push_back("--quick");
    arguments.push_back(options.plugin_path);
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
