// Turns a fault of the plug-in inside the child process into the check's
// failure, named for what it is: a crash (an exception that nothing handles),
// a stack overflow, a C++ exception that left the plug-in, abort(), the
// plug-in ending the process, an access to the guarded stream that it may not
// make, and a call that does not return.
//
// The thread that faults hands the fault to a watchdog thread and stands
// still: the watchdog has a stack of its own (a stack overflow leaves none)
// and needs no lock that the faulting thread may hold. It writes the failure
// with the call and frame the host was in, where it happened and the
// plug-in's nearest frames, then ends the process. It also times every call
// into the plug-in, and past the hang limit stops the host's thread and
// reports where it stands; and it watches the process's memory, which may
// grow by no more than the limit the validator set for a check.
#pragma once

#include <windows.h>

#include <cstdint>

#include "tools/validate/check_result.h"
#include "tools/validate/win32/guarded_stream.h"

namespace validate {

// The fault capture's part of the child's state.
enum class fault_type { exception, stack_overflow, stream, abort_called, process_end, hang, memory_limit };
// The one fault reported: filled by the thread that claims it, read by the
// watchdog once that thread has handed it over (or by the watchdog itself
// for a hang).
struct fault_slot {
    fault_type type = fault_type::exception;
    EXCEPTION_RECORD record{};
    CONTEXT context{};
    DWORD thread = 0;
    bool host_thread = false;
    plugin_call call = plugin_call::none;
    std::uint64_t frame = 0;
    stream_access stream;
    const char* how = nullptr;
    std::uint32_t code = 0;
    char assertion[512] = {};  // a failed assertion's text, when abort() came from one
    std::uint64_t memory_taken = 0;  // bytes beyond what the process had when it began
};
struct fault_state {
    fault_slot slot;
    volatile LONG claimed = 0;  // a thread has claimed the slot: every later fault stands still
    volatile LONG handed_over = 0;  // the slot is filled, without fault_ready set (a stack overflow)
    HANDLE fault_ready = nullptr;
    HANDLE host = nullptr;  // the host's thread
    HANDLE watchdog_thread = nullptr;
    DWORD watchdog_id = 0;
    std::uint64_t memory_at_start = 0;  // the process's memory when the watchdog began
};

// Installs the handlers and starts the watchdog; the process gets Windows'
// default error mode.
void install_fault_capture() noexcept;
// No error dialog box for what the calling thread does (a failed load): the
// host's thread's own error mode, which leaves the process's as a host has it.
void suppress_dialogs_on_this_thread() noexcept;
// The thread that calls the plug-in, for the watchdog to stop when it hangs.
void watch_host_thread(HANDLE host) noexcept;

// The plug-in ends the process by a call (`how`: "ExitProcess", "exit"...)
// with this exit code: reported with the frames that made it, then the
// process ends with the code.
[[noreturn]] void report_process_end(const char* how, std::uint32_t code) noexcept;

// A failed assertion of the plug-in (the C runtime's _assert or _wassert):
// reported as abort(), which it ends in, with the assertion's own text
// ("Assertion failed: x > 0, file f.cpp, line 12") and the frames that made
// it; the process ends with abort()'s exit code.
[[noreturn]] void report_failed_assertion(const char* text) noexcept;

// The host's thread has ended inside a call without returning from it.
void report_host_thread_end(std::uint32_t exit_code) noexcept;

// The child's own unhandled-exception filter, which the process state is
// compared against.
LPTOP_LEVEL_EXCEPTION_FILTER own_exception_filter() noexcept;

// A fault found by the child's own checks (process state a call did not
// restore): reported as the process's fault, unless one came first, and the
// process ends.
[[noreturn]] void report_fault(const check_result& fault) noexcept;

}  // namespace validate
