#include "tools/host/host_options.h"

#include <string_view>
#include <vector>

#include "tools/common/command_line.h"
#include "tools/common/output_files.h"

namespace tools {

const char* const host_usage =
    "usage: host [options] PLUGIN.dll\n"
    "Loads the plug-in, calls Init, then Update once per frame, then Shutdown.\n"
    "  --rate HZ         frames per second (default 60; a replay keeps its recorded pace)\n"
    "  --duration TIME   stop after this long: 10, 10s, 500ms, 2m\n"
    "  --frames N        stop after N frames\n"
    "  --start TIME      begin the built-in flight this far in (lift-off is at 12.5 s)\n"
    "  --record FILE     write every frame sent to FILE\n"
    "  --replay FILE     send the frames recorded in FILE instead of the built-in flight\n"
    "  --fast            send frames back to back, without pacing\n"
    "  --quiet           no live status line\n"
    "Without --duration or --frames the built-in flight runs until Ctrl-C.\n";

bool parse_host_options(int argc, const char* const* argv, host_options& options, std::string& error)
{
    options = host_options{};
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string_view& out) {
            if (i + 1 >= argc) {
                error = std::string(arg) + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string_view v;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--rate") {
            if (!value(v)) return false;
            const auto rate = parse_decimal(v, lowest_rate, highest_rate);
            if (!rate) {
                error = "--rate wants frames per second from 0.01 to 10000, not \"" + std::string(v) + "\"";
                return false;
            }
            options.rate = *rate;
            options.rate_given = true;
        } else if (arg == "--duration") {
            if (!value(v)) return false;
            options.duration = parse_duration(v);
            if (!options.duration) {
                error = "--duration wants a time up to a year such as 10, 10s or 500ms, not \"" + std::string(v) + "\"";
                return false;
            }
        } else if (arg == "--frames") {
            if (!value(v)) return false;
            options.frames = parse_unsigned(v, 1, UINT64_MAX);
            if (!options.frames) {
                error = "--frames wants a whole number above 0, not \"" + std::string(v) + "\"";
                return false;
            }
        } else if (arg == "--start") {
            if (!value(v)) return false;
            const auto start = parse_duration(v, 3600.0, true);
            if (!start) {
                error = "--start wants a time up to an hour such as 6 or 6s, not \"" + std::string(v) + "\"";
                return false;
            }
            options.start = *start;
        } else if (arg == "--record") {
            if (!value(v)) return false;
            options.record_path = v;
        } else if (arg == "--replay") {
            if (!value(v)) return false;
            options.replay_path = v;
        } else if (arg == "--fast") {
            options.fast = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
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
    if (options.help) return true;
    if (options.plugin_path.empty()) {
        error = "no plug-in named";
        return false;
    }
    if (options.start > 0.0 && !options.replay_path.empty()) {
        error = "--start applies to the built-in flight, not to a replay";
        return false;
    }
    return true;
}

bool check_host_outputs(const host_options& options, std::string& error)
{
    if (options.record_path.empty()) return true;
    std::vector<input_file> inputs = {{options.plugin_path, "the plug-in " + options.plugin_path + " itself"}};
    if (!options.replay_path.empty())
        inputs.push_back({options.replay_path, "the recording being replayed, " + options.replay_path});
    return check_outputs({{"--record", options.record_path}}, inputs, error);
}

}  // namespace tools
