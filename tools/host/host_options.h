// The host simulator's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tools {

struct host_options {
    std::string plugin_path;
    double rate = 60.0;  // frames per second
    bool rate_given = false;  // a replay otherwise keeps its recorded pace
    std::optional<double> duration;  // seconds of wall time
    std::optional<std::uint64_t> frames;
    double start = 0.0;  // seconds into the built-in flight
    std::string record_path;
    std::string replay_path;
    bool fast = false;  // no pacing: frames back to back
    bool quiet = false;  // no live status line
    std::vector<std::string> print;  // messages whose values are printed per frame
    bool scratch = false;  // the plug-in works in a scratch folder of its own
    bool keep_scratch = false;  // which stays after a run that ends well too
    bool help = false;
};

// Fills `options` from the arguments after the program name. On a mistake
// returns false with one sentence in `error`.
bool parse_host_options(int argc, const char* const* argv, host_options& options, std::string& error);

// Checks the --record file before the run: a file that can be written, not
// a folder, neither the plug-in nor the recording being replayed however
// each is spelt (the files themselves are compared). False with one sentence
// in `error`.
bool check_host_outputs(const host_options& options, std::string& error);

extern const char* const host_usage;

}  // namespace tools
