#include "tools/host/host_options.h"

#include <string_view>

#include "tools/common/command_line.h"
#include "tools/common/file_system.h"
#include "tools/host/frame_printer.h"

namespace tools {
namespace {

// NAME,NAME...: appends each name to `names`; false for an empty or
// malformed one.
bool parse_print_names(std::string_view list, std::vector<std::string>& names)
{
    for (;;) {
        const std::size_t comma = list.find(',');
        const std::string_view name = list.substr(0, comma);
        if (!is_printable_message_name(name)) return false;
        names.emplace_back(name);
        if (comma == std::string_view::npos) return true;
        list.remove_prefix(comma + 1);
    }
}

}  // namespace

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
    "  --print NAMES     print these messages' values per frame, e.g. Aircraft.Altitude,Aircraft.Velocity\n"
    "  --scratch         run the plug-in in a new empty working folder, removed after a run that ends well\n"
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
        } else if (arg == "--print") {
            if (!value(v)) return false;
            if (!parse_print_names(v, options.print)) {
                error = "--print wants message names separated by commas, such as Aircraft.Altitude,Aircraft.Velocity, "
                        "not \"" + std::string(v) + "\"";
                return false;
            }
        } else if (arg == "--scratch") {
            options.scratch = true;
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

bool check_record_target(const host_options& options, std::string& error)
{
    if (options.record_path.empty()) return true;
    const std::optional<file_identity> target = identify_file(options.record_path);
    if (!target) return true;  // a new file
    if (*target == identify_file(options.plugin_path)) {
        error = "--record " + options.record_path + " is the plug-in " + options.plugin_path +
                " itself: name another file";
        return false;
    }
    if (!options.replay_path.empty() && *target == identify_file(options.replay_path)) {
        error = "--record " + options.record_path + " is the recording being replayed, " + options.replay_path +
                ": name another file";
        return false;
    }
    return true;
}

}  // namespace tools
