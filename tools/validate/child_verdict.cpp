#include "tools/validate/child_verdict.h"

#include <cstdio>

namespace validate {

std::string describe_exit_code(std::uint32_t code)
{
    struct known {
        std::uint32_t code;
        const char* words;
    };
    static const known codes[] = {
        {0xC0000005, "access violation"},
        {0xC00000FD, "stack overflow"},
        {0xC0000409, "fast fail or stack buffer overrun"},
        {0xC0000374, "heap corruption"},
        {0xC0000094, "integer division by zero"},
        {0xC0000095, "integer overflow"},
        {0xC000001D, "illegal instruction"},
        {0xC0000096, "privileged instruction"},
        {0xC0000006, "in-page error"},
        {0xC000008C, "array bounds exceeded"},
        {0xC000008E, "floating-point division by zero"},
        {0xC0000090, "invalid floating-point operation"},
        {0x80000003, "breakpoint"},
        {0xC0000135, "a DLL was not found"},
        {0xC0000139, "an entry point was not found"},
        {0xC0000142, "a DLL failed to initialise"},
        {gcc_cpp_exception, "C++ exception (GCC)"},
        {msvc_cpp_exception, "C++ exception (Microsoft C++)"},
    };
    char text[96];
    for (const known& entry : codes) {
        if (entry.code == code) {
            std::snprintf(text, sizeof text, "%s (0x%08X)", entry.words, static_cast<unsigned>(code));
            return text;
        }
    }
    if (code == 3) return "abort() (exit code 3)";
    if (code >= 0xC0000000u)
        std::snprintf(text, sizeof text, "exception 0x%08X", static_cast<unsigned>(code));
    else
        std::snprintf(text, sizeof text, "exit code %u", static_cast<unsigned>(code));
    return text;
}

namespace {

check_result failure(const char* kind, std::string summary, std::string call, std::uint64_t frame)
{
    check_result result;
    result.result = outcome::failed;
    result.kind = kind;
    result.summary = std::move(summary);
    result.call = std::move(call);
    result.frame = frame;
    return result;
}

}  // namespace

check_result judge_child(const child_ending& ending)
{
    // The first fault decides: a crash or escaped exception even after the
    // check had written its result (at unload or at exit).
    if (ending.fault) return *ending.fault;
    if (ending.killed) {
        char limit[32];
        std::snprintf(limit, sizeof limit, "%.0f s", ending.limit_seconds);
        if (!ending.call.empty())
            return failure(failure_kind::hang, ending.call + " did not return within " + limit, ending.call,
                           ending.frame);
        return failure(failure_kind::hang, std::string("the check did not finish within ") + limit, "", ending.frame);
    }
    if (ending.expected_exit_code) {
        if (ending.exit_code == *ending.expected_exit_code && ending.reported) return *ending.reported;
        return failure(failure_kind::exit_code,
                       "the process ended with " + describe_exit_code(ending.exit_code) +
                           " instead of its own exit code " + std::to_string(*ending.expected_exit_code),
                       "process exit", 0);
    }
    if (!ending.reported) {
        return failure(failure_kind::crash,
                       "the process ended with " + describe_exit_code(ending.exit_code) + " before the check did",
                       ending.call, ending.frame);
    }
    if (ending.exit_code != 0) {
        return failure(
            failure_kind::crash,
            "the process ended with " + describe_exit_code(ending.exit_code) + " after the check, at its exit",
            "process exit", 0);
    }
    return *ending.reported;
}

}  // namespace validate
