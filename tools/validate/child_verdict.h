// How a check ended in its child process, and the result the validator
// reports for it: what the check wrote, unless the process crashed, hung or
// ended with another exit code than it should.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/validate/check_result.h"

namespace validate {

struct child_ending {
    std::optional<check_result> reported;  // written by the check when it came to an end
    std::optional<check_result> fault;     // written by the child's exception handlers
    std::uint32_t exit_code = 0;
    std::optional<std::uint32_t> expected_exit_code;  // when the check ends its process itself
    // Where the check was when its process ended: the call into the plug-in
    // (empty between calls) and the number of Updates begun.
    std::string call;
    std::uint64_t frame = 0;
    // Set when the validator ended the process after `limit_seconds`: the
    // call did not return, or the check did not finish.
    bool killed = false;
    double limit_seconds = 0.0;
};

check_result judge_child(const child_ending& ending);

// A process exit code or exception code in words: "access violation
// (0xC0000005)", "abort() (exit code 3)".
std::string describe_exit_code(std::uint32_t code);

// Exception codes of C++ exceptions: GCC's (MinGW) and Microsoft's.
inline constexpr std::uint32_t gcc_cpp_exception = 0x20474343;
inline constexpr std::uint32_t msvc_cpp_exception = 0xE06D7363;
inline bool is_cpp_exception(std::uint32_t code) noexcept
{
    return code == gcc_cpp_exception || code == msvc_cpp_exception;
}

}  // namespace validate
