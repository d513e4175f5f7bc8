// How a check ended in its child process, and the result the validator
// reports for it: what the check wrote, unless the process crashed, hung,
// ended with another exit code than it should, or never began the check.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/validate/check_result.h"

namespace validate {

// Why the validator ended a child itself.
enum class ended_by {
    itself,  // the process ended on its own
    call_limit,  // a call into the plug-in did not return (the child's own watch did not report it)
    check_limit,  // the check did not finish within its limit
    run_limit,  // the whole run reached its limit: the check is reported as not run in full
};

struct child_ending {
    // The child reached the check: until then, an ending is the validator's
    // own failure, not the plug-in's.
    bool started = false;
    std::optional<check_result> reported;  // written by the check when it came to an end
    std::optional<check_result> fault;  // written by the child's fault capture or watchdog
    std::uint32_t exit_code = 0;
    std::optional<std::uint32_t> expected_exit_code;  // when the check ends its process itself
    // Where the check was when its process ended: the call into the plug-in
    // (none between calls) and the number of Updates begun.
    plugin_call call = plugin_call::none;
    std::uint64_t frame = 0;
    // The slowest call the check made so far, for a check that ran out of time.
    plugin_call slowest_call = plugin_call::none;
    double slowest_call_seconds = 0.0;
    ended_by ender = ended_by::itself;
    double limit_seconds = 0.0;  // the limit that made the validator end it
    // The process did not end when the validator ended it: it is left running.
    bool left_running = false;
    std::uint32_t process_id = 0;
};

check_result judge_child(const child_ending& ending);

// A process exit code or exception code in words: "access violation
// (0xC0000005)", "abort() (exit code 3)".
std::string describe_exit_code(std::uint32_t code);

// "3 s", "2.5 s".
std::string seconds_text(double seconds);

}  // namespace validate
