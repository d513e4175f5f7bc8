// What one check found, and its passage from the child process that ran it
// to the validator that reports it: a few lines of text, one field a line,
// written by one allocation-free writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace validate {

// passed, failed (the plug-in's fault), skipped (not measurable here, or not
// run), error (the validator could not run the check: its own failure).
enum class outcome { passed, failed, skipped, error };

std::string_view outcome_name(outcome result) noexcept;  // "passed", "failed", "skipped", "error"

// Why a check failed, as a stable word for reports and scripts.
namespace failure_kind {
inline constexpr char expectation[] = "expectation";        // the plug-in did not do what it must
inline constexpr char crash[] = "crash";                    // an exception other than a C++ one ended the process
inline constexpr char stack_overflow[] = "stack_overflow";  // the stack ran out
inline constexpr char cpp_exception[] = "cpp_exception";    // a C++ exception left the plug-in
inline constexpr char abort_called[] = "abort";             // abort(), where std::terminate ends too
inline constexpr char process_ended[] = "process_ended";    // the plug-in ended the process (ExitProcess...)
inline constexpr char hang[] = "hang";                      // a call did not return within its limit
inline constexpr char read_past_stream[] = "read_past_stream";
inline constexpr char wrote_into_stream[] = "wrote_into_stream";
inline constexpr char kept_stream[] = "kept_stream";      // a frame's stream was used after its Update returned
inline constexpr char state_changed[] = "state_changed";  // process state a call changed and did not restore
inline constexpr char dangling[] = "dangling";            // after FreeLibrary, something points into the DLL
inline constexpr char exit_code[] = "exit_code";          // the process ended with another exit code
inline constexpr char not_loadable[] = "not_loadable";    // the checks that need the entry points cannot run
inline constexpr char too_slow[] = "too_slow";            // a time over its limit or budget
inline constexpr char left_behind[] = "left_behind";      // threads or windows still there after Shutdown
inline constexpr char growth[] = "growth";                // handles or memory grow with frames or cycles
}  // namespace failure_kind

// The kind of a skipped check that was not run (because of an earlier
// finding, or the run's time limit), and of the validator's own error.
inline constexpr char not_run_kind[] = "not_run";
inline constexpr char validator_error_kind[] = "validator";

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

// Writes results in the channel's format into a buffer of fixed size and
// allocates nothing: the child's one writer, for what a check found and, from
// its watchdog, for a crash or a hang while every other thread stands still.
// Each line is "key value" with the value's backslashes and line breaks
// escaped. A line that does not fit is left out whole; finish() then ends the
// text with a line that says how many were.
class result_writer {
public:
    result_writer(char* buffer, std::size_t capacity) noexcept;

    // One whole line.
    result_writer& line(std::string_view key, std::string_view value) noexcept;
    // One line in pieces: begin, any pieces, end.
    result_writer& begin(std::string_view key) noexcept;
    result_writer& text(std::string_view piece) noexcept;
    result_writer& number(std::uint64_t value) noexcept;
    result_writer& hex(std::uint64_t value) noexcept;  // "0x1a2b"
    result_writer& decimal(double value) noexcept;     // the shortest text that reads back the same
    result_writer& end() noexcept;

    // The text, with its last line saying how many lines were left out.
    std::string_view finish() noexcept;
    std::size_t lines_left_out() const noexcept { return left_out_; }

private:
    void put(char c) noexcept;
    char* buffer_;
    std::size_t usable_;  // the capacity less the room kept for the closing line
    std::size_t capacity_;
    std::size_t size_ = 0;
    std::size_t line_start_ = 0;
    bool overflowed_ = false;  // the line being written does not fit
    std::size_t left_out_ = 0;
};

// The result's lines: result, summary, kind, call, frame, figures, notes.
void write_check_result(result_writer& out, const check_result& result) noexcept;

// The result from its lines. Unknown lines are ignored; nothing when the text
// holds no result line. Lines left out by the writer become a note.
std::optional<check_result> parse_result(std::string_view text);

// The results of a run of several checks, each begun by a line "check NAME":
// name and result, in order. Text before the first such line counts as a
// result without a name.
std::vector<std::pair<std::string, check_result>> parse_results(std::string_view text);

}  // namespace validate
