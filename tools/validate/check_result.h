// What one check found, and its passage from the child process that ran it
// to the validator that reports it: a few lines of text, one field a line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace validate {

enum class outcome { passed, failed, skipped };

std::string_view outcome_name(outcome result) noexcept;  // "passed", "failed", "skipped"

// Why a check failed, as a stable word for reports and scripts.
namespace failure_kind {
inline constexpr char expectation[] = "expectation";      // the plug-in did not do what it must
inline constexpr char crash[] = "crash";                  // an exception other than a C++ one ended the process
inline constexpr char cpp_exception[] = "cpp_exception";  // a C++ exception left the plug-in
inline constexpr char hang[] = "hang";                    // a call did not return within its limit
inline constexpr char read_past_stream[] = "read_past_stream";
inline constexpr char wrote_into_stream[] = "wrote_into_stream";
inline constexpr char kept_stream[] = "kept_stream";    // the stream was used after Update returned
inline constexpr char exit_code[] = "exit_code";        // the process ended with another exit code
inline constexpr char not_loadable[] = "not_loadable";  // the checks that need the entry points cannot run
inline constexpr char too_slow[] = "too_slow";          // a time over its limit or budget
inline constexpr char left_behind[] = "left_behind";    // threads or windows still there after Shutdown
inline constexpr char growth[] = "growth";              // handles or memory grow with frames or cycles
}  // namespace failure_kind

struct check_result {
    outcome result = outcome::failed;
    std::string summary;                                  // the figure when passed, the reason otherwise: one line
    std::string kind;                                     // a failure_kind word when failed
    std::string call;                                     // the entry point the plug-in was in when it failed, if any
    std::uint64_t frame = 0;                              // the Update it was in or after (1 = the first), 0 = none
    std::vector<std::pair<std::string, double>> figures;  // measured numbers, e.g. {"p99_ms", 0.21}
    std::vector<std::string> notes;                       // facts worth reporting that do not decide the result
    double seconds = 0.0;                                 // the check's wall time, filled in by the validator
};

// The result as lines of text, and back. Parsing ignores unknown lines and
// gives nothing when the text holds no result line.
std::string serialize(const check_result& result);
std::optional<check_result> parse_result(std::string_view text);

}  // namespace validate
