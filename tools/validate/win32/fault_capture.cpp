#include "tools/validate/win32/fault_capture.h"

#include <psapi.h>

#include <csignal>
#include <cstring>

#include "tools/common/exception_names.h"
#include "tools/validate/memory_plan.h"
#include "tools/validate/win32/child_channel.h"
#include "tools/validate/win32/child_state.h"
#include "tools/validate/win32/guarded_stream.h"
#include "tools/validate/win32/module_table.h"
#include "tools/validate/win32/process_resources.h"
#include "tools/validate/win32/stack_walk.h"
#include "tools/validate/win32/warning_table.h"

namespace validate {

namespace {

fault_state& faults() noexcept
{
    return the_child().faults;
}

bool claim() noexcept
{
    return InterlockedCompareExchange(&faults().claimed, 1, 0) == 0;
}

[[noreturn]] void stand_still() noexcept
{
    for (;;) Sleep(INFINITE);
}

[[noreturn]] void end_process(std::uint32_t code) noexcept
{
    TerminateProcess(GetCurrentProcess(), code);
    stand_still();
}

void write_slot() noexcept;
std::uint32_t exit_code_of_slot() noexcept;

// On the faulting thread, after claiming the slot: the fault, and where the
// host was.
void note_fault(fault_type type) noexcept
{
    fault_slot& slot = faults().slot;
    slot.type = type;
    slot.thread = GetCurrentThreadId();
    slot.host_thread = is_host_thread();
    slot.call = current_call();
    slot.frame = current_frame();
}

// On the faulting thread, after claiming the slot: note the fault, hand it
// over and stand still. While the process exits, the system has ended the
// watchdog already: the faulting thread writes it itself.
[[noreturn]] void hand_over(fault_type type) noexcept
{
    fault_state& state = faults();
    note_fault(type);
    if (state.watchdog_thread == nullptr || WaitForSingleObject(state.watchdog_thread, 0) == WAIT_OBJECT_0) {
        write_slot();
        end_process(exit_code_of_slot());
    }
    SetEvent(state.fault_ready);
    stand_still();
}

// Claims the slot for the calling thread, or stands still when another fault
// came first; a fault of the watchdog itself ends the process at once.
void claim_or_stand_still(DWORD code) noexcept
{
    if (GetCurrentThreadId() == faults().watchdog_id) end_process(code);
    if (!claim()) stand_still();
}

void copy_exception(const EXCEPTION_POINTERS* pointers) noexcept
{
    fault_slot& slot = faults().slot;
    std::memcpy(&slot.record, pointers->ExceptionRecord, sizeof slot.record);
    std::memcpy(&slot.context, pointers->ContextRecord, sizeof slot.context);
}

// A stack overflow: what the system leaves of the stack for its handling
// (about two kilobytes under Wine, after its own exception frame) is too
// little for a call into the system, which would fault again, where nothing
// can be handled. So the slot is filled without one and marked handed over
// for the watchdog, which looks every 50 ms and ends the process; until then
// the thread spins where it is. (One in the process's exit, when the system
// has ended the watchdog already, is left to the validator's time limits on
// the child.)
[[noreturn]] void hand_over_stack_overflow(const EXCEPTION_POINTERS* pointers) noexcept
{
    if (GetCurrentThreadId() == faults().watchdog_id) end_process(STATUS_STACK_OVERFLOW);
    if (claim()) {
        copy_exception(pointers);
        note_fault(fault_type::stack_overflow);
        InterlockedExchange(&faults().handed_over, 1);
    }
    for (;;) YieldProcessor();
}

// First chance, before the plug-in's own handlers: a stack overflow (no
// handler of the plug-in could run without stack) and the guarded stream.
LONG CALLBACK on_first_chance(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    if (record.ExceptionCode == EXCEPTION_STACK_OVERFLOW) hand_over_stack_overflow(pointers);
    if (record.ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record.NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    // A thread of the plug-in may touch the stream while the host's is in
    // its Update, too.
    const bool in_update = current_call() == plugin_call::update;
    const stream_access access = classify_stream_access(
        record.ExceptionInformation[1], record.ExceptionInformation[0] == 1, in_update ? current_frame() : 0);
    if (access.kind == fault_kind::none) return EXCEPTION_CONTINUE_SEARCH;
    claim_or_stand_still(record.ExceptionCode);
    copy_exception(pointers);
    faults().slot.stream = access;
    hand_over(fault_type::stream);
}

// Last chance: an exception that nothing handled.
LONG WINAPI on_unhandled(EXCEPTION_POINTERS* pointers)
{
    claim_or_stand_still(pointers->ExceptionRecord->ExceptionCode);
    copy_exception(pointers);
    hand_over(pointers->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW ? fault_type::stack_overflow
                                                                                   : fault_type::exception);
}

void on_abort(int)
{
    claim_or_stand_still(3);
    RtlCaptureContext(&faults().slot.context);
    faults().slot.code = 3;
    hand_over(fault_type::abort_called);
}

// The plug-in's frames nearest the fault, as frame lines of the result: of
// the unloaded plug-in when it has left.
void write_plugin_frames(result_writer& out) noexcept
{
    module_range plugin = plugin_range();
    if (plugin.empty()) plugin = unloaded_plugin_range();
    std::uintptr_t frames[4];
    const CONTEXT& context = faults().slot.context;
    const std::size_t count = plugin_frames(context, plugin, frames, 4);
    // Every frame is where a call returns to, but the one the thread stood at.
    for (std::size_t i = 0; i < count; ++i)
        if (i == 0 || frames[i] != frames[i - 1])  // a recursion shows once
            write_fault_frame(out, frames[i], i > 0 || frames[i] != context.Rip);
}

void write_exception(result_writer& out) noexcept
{
    const EXCEPTION_RECORD& record = faults().slot.record;
    const auto code = static_cast<std::uint32_t>(record.ExceptionCode);
    const auto address = reinterpret_cast<std::uintptr_t>(record.ExceptionAddress);
    const bool access_violation = code == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2;
    if (tools::is_cpp_exception(code)) {
        out.text("a ").text(tools::exception_name(code)).text(" was not caught: it left the plug-in");
    } else if (access_violation && record.ExceptionInformation[0] == 8) {
        out.text("access violation executing code");
    } else if (access_violation) {
        out.text("access violation ").text(record.ExceptionInformation[0] == 1 ? "writing " : "reading ");
        out.hex(record.ExceptionInformation[1]);
    } else if (const char* name = tools::exception_name(code)) {
        out.text(name).text(" (").hex(code).text(")");
    } else {
        out.text("exception ").hex(code);
    }
    out.text(" at ");
    write_address(out, address);
}

// On which thread, when not the host's.
void write_thread(result_writer& out) noexcept
{
    const fault_slot& slot = faults().slot;
    if (slot.host_thread || slot.type == fault_type::hang) return;
    out.text(" on a thread of the plug-in");
    if (const HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, slot.thread)) {
        out.text(" (started at ");
        write_address(out, thread_start_address(thread));
        out.text(")");
        CloseHandle(thread);
    }
}

// The fault is code of the plug-in running after its DLL left the process.
bool ran_after_unload() noexcept
{
    const fault_slot& slot = faults().slot;
    return slot.type == fault_type::exception && plugin_range().empty() &&
           unloaded_plugin_range().contains(reinterpret_cast<std::uintptr_t>(slot.record.ExceptionAddress));
}

fault_kind kind_of_slot() noexcept
{
    const fault_slot& slot = faults().slot;
    switch (slot.type) {
        case fault_type::exception:
            return tools::is_cpp_exception(static_cast<std::uint32_t>(slot.record.ExceptionCode))
                       ? fault_kind::cpp_exception
                       : fault_kind::crash;
        case fault_type::stack_overflow: return fault_kind::stack_overflow;
        case fault_type::stream: return slot.stream.kind;
        case fault_type::abort_called: return fault_kind::abort_called;
        case fault_type::process_end: return fault_kind::process_ended;
        case fault_type::hang: return fault_kind::hang;
        case fault_type::memory_limit: return fault_kind::memory_limit;
    }
    return fault_kind::crash;
}

void write_summary(result_writer& out) noexcept
{
    const fault_slot& slot = faults().slot;
    const auto fault_address = reinterpret_cast<std::uintptr_t>(slot.record.ExceptionAddress);
    switch (slot.type) {
        case fault_type::exception: write_exception(out); break;
        case fault_type::stack_overflow:
            out.text("stack overflow at ");
            write_address(out, fault_address);
            break;
        case fault_type::stream:
            write_stream_access(out, slot.stream);
            out.text(" at ");
            write_address(out, fault_address);
            write_thread(out);
            if (slot.stream.kind == fault_kind::kept_stream) out.text(": the plug-in kept a pointer to it");
            return;
        case fault_type::abort_called:
            if (slot.assertion[0] != '\0')
                out.text("a failed assertion called abort(): ").text(slot.assertion);
            else
                out.text("abort() was called (std::terminate ends in it too)");
            break;
        case fault_type::process_end:
            out.text("the plug-in ended the process: ").text(slot.how).text("(").number(slot.code).text(")");
            break;
        case fault_type::hang: {
            out.text(call_name(slot.call)).text(" did not return within ");
            out.decimal(hang_limit_seconds()).text(" s");
            std::uintptr_t frame = 0;
            const bool in_plugin = plugin_frames(slot.context, plugin_range(), &frame, 1) == 1;
            if (in_plugin && slot.call == plugin_call::load_library)
                out.text(": the plug-in's DllMain hangs at DLL_PROCESS_ATTACH");
            if (in_plugin && slot.call == plugin_call::free_library)
                out.text(": the plug-in's DllMain hangs at DLL_PROCESS_DETACH");
            out.text("; the host's thread stands at ");
            write_address(out, slot.context.Rip);
            break;
        }
        case fault_type::memory_limit:
            out.text("the process took ").number(slot.memory_taken / mebibyte);
            out.text(" MiB more memory than when the check began, over the ").number(memory_limit() / mebibyte);
            out.text(" MiB a check may take: memory taken and not given back");
            return;
    }
    write_thread(out);
    if (ran_after_unload()) out.text(": code of the plug-in (a thread, a callback, a handler) ran after FreeLibrary");
}

// A C++ exception of the validator's own: thrown on the host's thread
// outside any call into the plug-in.
bool validator_exception() noexcept
{
    const fault_slot& slot = faults().slot;
    return slot.type == fault_type::exception && slot.host_thread && slot.call == plugin_call::none &&
           tools::is_cpp_exception(static_cast<std::uint32_t>(slot.record.ExceptionCode));
}

void write_slot() noexcept
{
    const fault_slot& slot = faults().slot;
    result_writer out = fault_writer();
    if (validator_exception()) {
        out.put(outcome::error);
        out.summary("validate: the check stopped on a C++ exception of its own, outside the plug-in");
        commit_fault(out);
        return;
    }
    out.put(outcome::failed);
    write_summary(out.begin_summary());
    out.end();
    out.put(kind_of_slot());
    // Code that ran after the DLL left ran after FreeLibrary, whatever the
    // host's thread was doing at that moment.
    const plugin_call call =
        slot.call == plugin_call::none && ran_after_unload() ? plugin_call::after_free_library : slot.call;
    if (call != plugin_call::none) out.put(call);
    if (slot.frame != 0) out.frame_number(slot.frame);
    write_plugin_frames(out);
    const channel_block* block = channel();
    if (slot.call == plugin_call::update && block != nullptr && block->frame_note[0] != '\0')
        out.begin_note().text("the frame: ").text(block->frame_note).end();
    write_warnings(out);
    commit_fault(out);
}

std::uint32_t exit_code_of_slot() noexcept
{
    const fault_slot& slot = faults().slot;
    switch (slot.type) {
        case fault_type::exception:
        case fault_type::stack_overflow:
        case fault_type::stream: return static_cast<std::uint32_t>(slot.record.ExceptionCode);
        case fault_type::abort_called:
        case fault_type::process_end: return slot.code;
        case fault_type::hang:
        case fault_type::memory_limit: return 1;
    }
    return 1;
}

// Stops the host's thread if the call it is in has run past the hang limit;
// false when the call returned meanwhile.
bool stop_hung_host() noexcept
{
    fault_state& state = faults();
    const HANDLE host = state.host;
    const channel_block* block = channel();
    if (host == nullptr || block == nullptr) return false;
    const plugin_call call = current_call();
    if (!is_timed_call(call) || call == plugin_call::process_exit || current_call_seconds() <= hang_limit_seconds())
        return false;
    const LONG64 calls = block->calls;
    if (!claim()) return false;  // a fault is being handed over
    SuspendThread(host);
    if (block->calls != calls || current_call() != call) {
        ResumeThread(host);
        InterlockedExchange(&state.claimed, 0);
        return false;
    }
    fault_slot& slot = state.slot;
    slot.context.ContextFlags = CONTEXT_FULL;
    GetThreadContext(host, &slot.context);
    slot.type = fault_type::hang;
    slot.host_thread = true;
    slot.call = call;
    slot.frame = current_frame();
    return true;
}

// The process's memory now: committed bytes (on Windows), resident ones
// (under Wine, which counts only those); 0 when unknown.
std::uint64_t process_memory() noexcept
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.PagefileUsage : 0;
}

// Claims the slot when the process has grown past the check's memory limit:
// where the host's thread stands when it is in a call, which is most often
// where the memory is taken.
bool over_memory_limit() noexcept
{
    fault_state& state = faults();
    const std::uint64_t limit = memory_limit();
    const std::uint64_t memory = process_memory();
    if (limit == 0 || memory <= state.memory_at_start + limit || !claim()) return false;
    fault_slot& slot = state.slot;
    slot.type = fault_type::memory_limit;
    slot.memory_taken = memory - state.memory_at_start;
    slot.host_thread = true;
    slot.call = current_call();
    slot.frame = current_frame();
    if (state.host != nullptr && is_timed_call(slot.call) && SuspendThread(state.host) != static_cast<DWORD>(-1)) {
        slot.context.ContextFlags = CONTEXT_FULL;
        GetThreadContext(state.host, &slot.context);
    }
    return true;
}

DWORD WINAPI watchdog(void* running)
{
    SetEvent(static_cast<HANDLE>(running));
    for (;;) {
        if (WaitForSingleObject(faults().fault_ready, 50) == WAIT_OBJECT_0 || faults().handed_over != 0 ||
            stop_hung_host() || over_memory_limit()) {
            write_slot();
            end_process(exit_code_of_slot());
        }
    }
}

}  // namespace

void install_fault_capture() noexcept
{
    fault_state& state = faults();
    state.memory_at_start = process_memory();
    state.fault_ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // The watchdog must be running before the plug-in is loaded: a thread's
    // start needs the loader lock, which a DllMain that hangs holds.
    const HANDLE running = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    state.watchdog_thread = CreateThread(nullptr, SIZE_T{64} * 1024, watchdog, running, 0, &state.watchdog_id);
    if (state.watchdog_thread != nullptr) WaitForSingleObject(running, INFINITE);
    CloseHandle(running);
    AddVectoredExceptionHandler(1, on_first_chance);
    SetUnhandledExceptionFilter(on_unhandled);
    std::signal(SIGABRT, on_abort);
    // The process keeps Windows' default error mode, as a host has it, so
    // that a plug-in's SetErrorMode shows against it. A crash never reaches
    // a dialog box: the filter above ends the process. What a failed load
    // would show is kept off on the host's thread alone.
    SetErrorMode(0);
}

void suppress_dialogs_on_this_thread() noexcept
{
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX, nullptr);
}

void watch_host_thread(HANDLE host) noexcept
{
    faults().host = host;
}

void report_process_end(const char* how, std::uint32_t code) noexcept
{
    claim_or_stand_still(code);
    fault_slot& slot = faults().slot;
    RtlCaptureContext(&slot.context);
    slot.how = how;
    slot.code = code;
    hand_over(fault_type::process_end);
}

void report_failed_assertion(const char* text) noexcept
{
    claim_or_stand_still(3);
    fault_slot& slot = faults().slot;
    RtlCaptureContext(&slot.context);
    std::size_t length = 0;
    for (; text[length] != '\0' && length + 1 < sizeof slot.assertion; ++length) slot.assertion[length] = text[length];
    slot.assertion[length] = '\0';
    slot.code = 3;
    hand_over(fault_type::abort_called);
}

void report_host_thread_end(std::uint32_t exit_code) noexcept
{
    if (!claim()) stand_still();  // the watchdog reports the fault that came first, and ends the process
    result_writer out = fault_writer();
    out.put(outcome::failed);
    out.begin_summary().text("the host's thread ended in ").text(call_name(current_call()));
    out.text(" without returning (thread exit code ").number(exit_code).text("): the plug-in ended it").end();
    out.put(fault_kind::crash);
    out.put(current_call());
    if (current_frame() != 0) out.frame_number(current_frame());
    write_warnings(out);
    commit_fault(out);
}

LPTOP_LEVEL_EXCEPTION_FILTER own_exception_filter() noexcept
{
    return on_unhandled;
}

void report_fault(const check_result& fault) noexcept
{
    claim_or_stand_still(1);
    result_writer out = fault_writer();
    write_check_result(out, fault);
    write_warnings(out);
    commit_fault(out);
    end_process(1);
}

}  // namespace validate
