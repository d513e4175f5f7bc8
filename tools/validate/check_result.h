// What one check found, typed from the check to the report: its outcome, the
// kind of fault, the call into the plug-in it happened in, the plug-in's
// frames, figures, notes and warnings. Its passage from the child process
// that ran it to the validator that reports it is a few lines of text, one
// field a line, written by one allocation-free writer (the crash path's
// too) and read by one parser. The words for the enums are made once, here,
// for the reports that show them; no logic compares them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace validate {

// passed; failed (the plug-in's fault); skipped (not measurable here); not
// run (an earlier finding or the run's limit left it out); error (the
// validator could not run the check: its own failure, not the plug-in's).
enum class outcome : std::uint8_t { passed, failed, skipped, not_run, error };

// Why a check failed.
enum class fault_kind : std::uint8_t {
    none,
    expectation,  // the plug-in did not do what it must
    crash,  // an exception other than a C++ one ended the process
    stack_overflow,  // the stack ran out
    cpp_exception,  // a C++ exception left the plug-in
    abort_called,  // abort(), where std::terminate ends too
    process_ended,  // the plug-in ended the process (ExitProcess...)
    hang,  // a call did not return within its limit
    read_past_stream,  // a read past the end of the frame's stream
    wrote_into_stream,  // a write into the host's stream
    kept_stream,  // a frame's stream was used after its Update returned
    state_changed,  // process state a call changed and did not restore
    dangling,  // after FreeLibrary, something points into the DLL
    exit_code,  // the process ended with another exit code
    not_loadable,  // the checks that need the entry points cannot run
    too_slow,  // a time over its limit or budget
    left_behind,  // threads or windows still there after Shutdown
    growth,  // handles or memory grow with frames or cycles
    memory_limit,  // the process took more memory than a check may
    output_not_zero,  // an Update left an output other than 0
    wrote_past_output,  // an Update wrote past one of its 4-byte outputs
};

// The call into the plug-in a check was in (or the moment that is not a call).
enum class plugin_call : std::uint8_t {
    none,
    load_library,
    get_interface_version,
    init,
    update,
    shutdown,
    free_library,
    after_free_library,  // not a call: the wait after FreeLibrary
    process_exit,  // not a call: the process ending, after the check or by the host's exit
};

// Something worth the author's attention that does not fail the check by
// itself.
enum class warning_kind : std::uint8_t {
    environment_added,  // a call left an environment variable that the host did not have
    blocking_call,  // Update made a call that can block the host's frame (a file write, a wait...)
};

// The words shown for each: "passed", "read_past_stream", "Update",
// "environment_added". An empty word for outcome none-like values.
std::string_view outcome_name(outcome result) noexcept;  // as the JSON report says it: not_run is "skipped"
std::string_view kind_name(fault_kind kind) noexcept;
std::string_view call_name(plugin_call call) noexcept;  // "" for none
std::string_view warning_name(warning_kind kind) noexcept;

// A frame of the plug-in's code where a fault happened, nearest first: its
// module and offset; function, source file and line when known.
struct fault_frame {
    std::string module;
    std::uint64_t offset = 0;
    std::string function;
    std::string file;
    std::uint32_t line = 0;  // 0: unknown
    // An address a call returns to, as every frame is but the faulting
    // instruction's: the call itself is the instruction before it.
    bool return_address = false;
};

struct check_warning {
    warning_kind kind = warning_kind::environment_added;
    std::uint64_t count = 1;  // how many times it was seen
    std::string detail;  // one line
};

struct check_result {
    outcome result = outcome::failed;
    std::string summary;  // the figure when passed, the reason otherwise: one line
    fault_kind kind = fault_kind::none;
    plugin_call call = plugin_call::none;  // the entry point the plug-in was in when it failed
    std::uint64_t frame = 0;  // the Update it was in or after (1 = the first), 0 = none
    std::vector<fault_frame> frames;  // the plug-in's frames of a fault, nearest first
    std::vector<std::pair<std::string, double>> figures;  // measured numbers, e.g. {"p99_ms", 0.21}
    std::vector<std::string> notes;  // facts worth reporting that do not decide the result
    std::vector<check_warning> warnings;
    double seconds = 0.0;  // the check's wall time, filled in by the validator
};

// The results every part of the validator makes.
check_result passed(std::string summary);
check_result failed(fault_kind kind, std::string summary, plugin_call call = plugin_call::none,
                    std::uint64_t frame = 0);
check_result skipped(std::string reason);  // not measurable here
check_result not_run(std::string reason);
check_result validator_error(std::string summary);

// Writes results in the channel's format into a buffer of fixed size and
// allocates nothing: the child's one writer, for what a check found and, from
// its watchdog, for a crash or a hang while every other thread stands still.
// Each line is a key and a value with the value's backslashes and line
// breaks escaped. A line that does not fit is left out whole; finish() then
// ends the text with a line that says how many were.
class result_writer {
public:
    result_writer(char* buffer, std::size_t capacity) noexcept;

    // Begins the result of the check of this name, in a run of several.
    result_writer& check(std::string_view name) noexcept;
    result_writer& put(outcome result) noexcept;
    result_writer& put(fault_kind kind) noexcept;
    result_writer& put(plugin_call call) noexcept;
    result_writer& frame_number(std::uint64_t frame) noexcept;
    result_writer& summary(std::string_view text) noexcept;
    result_writer& note(std::string_view text) noexcept;
    result_writer& figure(std::string_view name, double value) noexcept;
    result_writer& fault_frame_line(std::string_view module, std::uint64_t offset, std::string_view function = {},
                                    std::string_view file = {}, std::uint32_t line = 0,
                                    bool return_address = false) noexcept;
    result_writer& warning(warning_kind kind, std::uint64_t count, std::string_view detail) noexcept;

    // A summary or a note written in pieces: begin, any pieces, end.
    result_writer& begin_summary() noexcept;
    result_writer& begin_note() noexcept;
    result_writer& text(std::string_view piece) noexcept;
    result_writer& number(std::uint64_t value) noexcept;
    result_writer& hex(std::uint64_t value) noexcept;  // "0x1a2b"
    result_writer& decimal(double value) noexcept;  // the shortest text that reads back the same
    result_writer& end() noexcept;

    // The text, with its last line saying how many lines were left out.
    std::string_view finish() noexcept;
    std::size_t lines_left_out() const noexcept { return left_out_; }

private:
    result_writer& begin(std::string_view key) noexcept;
    void raw(std::string_view piece) noexcept;  // unescaped
    void put_char(char c) noexcept;
    char* buffer_;
    std::size_t usable_;  // the capacity less the room kept for the closing line
    std::size_t capacity_;
    std::size_t size_ = 0;
    std::size_t line_start_ = 0;
    bool overflowed_ = false;  // the line being written does not fit
    std::size_t left_out_ = 0;
};

// Every field of a result.
void write_check_result(result_writer& out, const check_result& result) noexcept;

// The result from its lines. Unknown lines are ignored; nothing when the text
// holds no outcome line. Lines left out by the writer become a note.
std::optional<check_result> parse_result(std::string_view text);

// The results of a run of several checks, each begun by its check line: name
// and result, in order. Text before the first such line counts as a result
// without a name.
std::vector<std::pair<std::string, check_result>> parse_results(std::string_view text);

}  // namespace validate
