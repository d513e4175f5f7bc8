#include "tools/host/host_options.h"

#include <string_view>
#include <vector>

#include "tools/common/argument_reader.h"
#include "tools/common/command_line.h"
#include "tools/common/output_files.h"
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
    "  --keep-scratch    as --scratch, and keep the folder after a run that ends well too\n"
    "Without --duration or --frames the built-in flight runs until Ctrl-C. A plug-in whose name starts\n"
    "with - goes after --.\n";

bool parse_host_options(int argc, const char* const* argv, host_options& options, std::string& error)
{
    options = host_options{};
    host_options& o = options;
    const auto help = [&o](std::string_view) { return o.help = true; };
    const std::vector<command_option> table = {
        {"--help", "", help},
        {"-h", "", help},
        {"--rate", "frames per second from 0.01 to 10000",
         [&o](std::string_view v) {
             return o.rate_given = store(parse_decimal(v, lowest_rate, highest_rate), o.rate);
         }},
        {"--duration", "a time up to a year such as 10, 10s or 500ms",
         [&o](std::string_view v) { return (o.duration = parse_duration(v)).has_value(); }},
        {"--frames", "a whole number above 0",
         [&o](std::string_view v) { return (o.frames = parse_unsigned(v, 1, UINT64_MAX)).has_value(); }},
        {"--start", "a time up to an hour such as 6 or 6s",
         [&o](std::string_view v) { return store(parse_duration(v, 3600.0, true), o.start); }},
        {"--record", "a file name", [&o](std::string_view v) { return !(o.record_path = v).empty(); }},
        {"--replay", "a file name", [&o](std::string_view v) { return !(o.replay_path = v).empty(); }},
        {"--fast", "", [&o](std::string_view) { return o.fast = true; }},
        {"--quiet", "", [&o](std::string_view) { return o.quiet = true; }},
        {"--print", "message names separated by commas, such as Aircraft.Altitude,Aircraft.Velocity",
         [&o](std::string_view v) { return parse_print_names(v, o.print); }},
        {"--scratch", "", [&o](std::string_view) { return o.scratch = true; }},
        {"--keep-scratch", "", [&o](std::string_view) { return o.scratch = o.keep_scratch = true; }},
    };
    const auto plugin = [&o](std::string_view operand, std::string& why) {
        if (!o.plugin_path.empty()) {
            why = "one plug-in only: \"" + std::string(operand) + "\" is one too many";
            return false;
        }
        o.plugin_path = operand;
        return true;
    };
    if (!read_arguments(argc, argv, table, plugin, error)) return false;
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
