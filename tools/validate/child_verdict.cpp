#include "tools/validate/child_verdict.h"

#include <cstdio>

#include "tools/common/exception_names.h"

namespace validate {

std::string describe_exit_code(std::uint32_t code)
{
    char text[96];
    if (const char* words = tools::exception_name(code)) {
        std::snprintf(text, sizeof text, "%s (0x%08X)", words, static_cast<unsigned>(code));
        return text;
    }
    if (code == 3) return "abort() (exit code 3)";
    if (code >= 0xC0000000u)
        std::snprintf(text, sizeof text, "exception 0x%08X", static_cast<unsigned>(code));
    else
        std::snprintf(text, sizeof text, "exit code %u", static_cast<unsigned>(code));
    return text;
}

std::string seconds_text(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f s", seconds == static_cast<double>(static_cast<long long>(seconds)) ? 0 : 1,
                  seconds);
    return text;
}

namespace {

check_result verdict(const child_ending& ending)
{
    // The first fault decides: a crash or escaped exception even after the
    // check had written its result (at unload or at exit).
    if (ending.fault) return *ending.fault;
    switch (ending.ender) {
        case ended_by::itself: break;
        case ended_by::run_limit: {
            return not_run("not run in full: the run reached its limit of " + seconds_text(ending.limit_seconds));
        }
        case ended_by::call_limit:
            if (ending.call == plugin_call::process_exit) {
                return failed(fault_kind::hang,
                              "the process did not end within " + seconds_text(ending.limit_seconds) +
                                  " of its exit: a DllMain that waits at DLL_PROCESS_DETACH, or a destructor of a "
                                  "static object that waits",
                              ending.call, ending.frame);
            }
            return failed(fault_kind::hang,
                          std::string(call_name(ending.call)) + " did not return within " +
                              seconds_text(ending.limit_seconds),
                          ending.call, ending.frame);
        case ended_by::check_limit: {
            std::string summary = "the check did not finish within " + seconds_text(ending.limit_seconds);
            // Every call returned within its limit: slow calls are the cause,
            // when there were any.
            if (ending.slowest_call == plugin_call::none || ending.slowest_call_seconds < 0.5)
                return failed(fault_kind::hang, summary, ending.call, ending.frame);
            summary += ": " + std::string(call_name(ending.slowest_call)) + " took up to " +
                       seconds_text(ending.slowest_call_seconds);
            return failed(fault_kind::too_slow, summary, ending.slowest_call, ending.frame);
        }
    }
    if (!ending.started) {
        return validator_error("validate: the check's process ended with " + describe_exit_code(ending.exit_code) +
                               " before it began the check");
    }
    if (ending.expected_exit_code) {
        if (ending.exit_code == *ending.expected_exit_code && ending.reported) return *ending.reported;
        return failed(fault_kind::exit_code,
                      "the process ended with " + describe_exit_code(ending.exit_code) +
                          " instead of its own exit code " + std::to_string(*ending.expected_exit_code),
                      plugin_call::process_exit);
    }
    if (!ending.reported) {
        // Without an exception, and in a call: something the plug-in called
        // ended the process before the child's watch could name it.
        const std::string in_call = " in " + std::string(call_name(ending.call));
        if (ending.call != plugin_call::none && ending.exit_code == 3)
            return failed(fault_kind::abort_called, "abort() ended the process" + in_call, ending.call, ending.frame);
        if (ending.call != plugin_call::none && ending.exit_code < 0xC0000000u) {
            return failed(fault_kind::process_ended,
                          "the process ended with " + describe_exit_code(ending.exit_code) + in_call +
                              ", without an exception: the plug-in ended it",
                          ending.call, ending.frame);
        }
        return failed(fault_kind::crash,
                      "the process ended with " + describe_exit_code(ending.exit_code) + " before the check did",
                      ending.call, ending.frame);
    }
    if (ending.exit_code != 0) {
        return failed(fault_kind::crash,
                      "the process ended with " + describe_exit_code(ending.exit_code) +
                          " after the check, at its exit",
                      plugin_call::process_exit);
    }
    return *ending.reported;
}

}  // namespace

check_result judge_child(const child_ending& ending)
{
    check_result result = verdict(ending);
    if (ending.left_running) {
        result.notes.push_back("its process (id " + std::to_string(ending.process_id) +
                               ") did not end when the validator ended it, and is left running");
    }
    return result;
}

}  // namespace validate
