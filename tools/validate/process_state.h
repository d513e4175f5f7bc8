// The process-wide state that a plug-in can change and must leave as it
// found it, as the validator compares it around every call into the plug-in
// and after FreeLibrary: the settings a host relies on for its own work (see
// docs/validator.md, "Process state", for why each matters). The values are
// read on Windows (win32/process_state_reader); comparing and describing them
// is portable.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace validate {

// The COM apartment of the host's thread: none until something calls
// CoInitializeEx on it (a thread that is in the process's multithreaded
// apartment only because another thread made one counts as none).
enum class com_apartment : std::uint8_t { none, single_threaded, multithreaded, neutral, main_single_threaded };

struct process_state {
    // Of the host's thread, which makes the calls.
    std::uint32_t mxcsr = 0;  // SSE control: the exception flags (bits 0 to 5) left out
    std::uint16_t x87_control = 0;  // the x87 FPU control word
    std::uint32_t thread_locale = 0;
    int thread_priority = 0;
    std::uint32_t thread_error_mode = 0;  // SetThreadErrorMode's
    com_apartment apartment = com_apartment::none;
    // Of the whole process.
    std::string current_directory;  // UTF-8
    std::uintptr_t exception_filter = 0;  // the unhandled-exception filter
    std::uint32_t error_mode = 0;
    std::string dll_directory;  // SetDllDirectory's, UTF-8; empty when none is set
    std::string crt_locale;  // the shared C runtime's setlocale(LC_ALL, NULL)
    std::uint32_t priority_class = 0;
    std::array<std::uintptr_t, 3> standard_handles{};  // input, output, error
    std::array<std::uintptr_t, 6> signal_handlers{};  // of the shared C runtime, in signal_names order
    // The environment, UTF-8, one "NAME=value" after another, each ended by
    // a zero byte, in the system's order; the hidden per-drive entries
    // ("=C:=C:\\folder") left out.
    std::string environment;
};

// The signals whose handlers are compared: "SIGABRT", "SIGINT"...
extern const char* const signal_names[6];

// Whether a setting belongs to the host's thread (changed only by calls made
// on it) or to the process (changed by any thread of the plug-in, so a
// difference is read again before it counts).
enum class state_scope { host_thread, process };

struct state_change {
    state_scope scope;
    std::string what;  // "MXCSR 0x1F80 became 0x9FC0: flush-to-zero and denormals-are-zero turned on"
};

// Every setting that differs between the two readings, in words. Of the
// environment, only the variables of the host's own (those of `host`, the
// reading before the plug-in was first loaded) count: one the plug-in added
// is its own to change or remove (see environment_added).
std::vector<state_change> state_changes(const process_state& before, const process_state& after,
                                        const process_state& host);

// The environment variables of `after` that `before` does not have, as
// "NAME=value".
std::vector<std::string> environment_added(const process_state& before, const process_state& after);

// The addresses among the settings that lie in [first, end): what still points
// into a DLL that was there, in words ("the unhandled-exception filter").
std::vector<std::string> pointers_into(const process_state& state, std::uintptr_t first, std::uintptr_t end);

// MXCSR's control bits and the x87 control word, in words: "round toward
// zero, flush-to-zero, denormals-are-zero, exceptions masked: all".
std::string describe_mxcsr(std::uint32_t mxcsr);
std::string describe_x87_control(std::uint16_t control);

}  // namespace validate
