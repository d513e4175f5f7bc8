#include "tools/validate/win32/fault_capture.h"

#include <csignal>
#include <cstring>

#include "tools/validate/child_verdict.h"
#include "tools/validate/win32/child_channel.h"
#include "tools/validate/win32/guarded_stream.h"
#include "tools/validate/win32/module_table.h"
#include "tools/validate/win32/process_resources.h"
#include "tools/validate/win32/stack_walk.h"

namespace validate {

namespace {

enum class fault_type { exception, stack_overflow, stream, abort_called, process_end, hang };

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
};
alignas(16) fault_slot slot;
volatile LONG claimed = 0;
HANDLE fault_ready = nullptr;
HANDLE host = nullptr;
HANDLE watchdog_thread = nullptr;
DWORD watchdog_id = 0;

bool claim() noexcept
{
    return InterlockedCompareExchange(&claimed, 1, 0) == 0;
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

// On the faulting thread, after claiming the slot: note where the host was,
// hand the fault over and stand still. While the process exits, the system
// has ended the watchdog already: the faulting thread writes it itself.
[[noreturn]] void hand_over(fault_type type) noexcept
{
    slot.type = type;
    slot.thread = GetCurrentThreadId();
    slot.host_thread = is_host_thread();
    slot.call = current_call();
    slot.frame = current_frame();
    if (watchdog_thread == nullptr || WaitForSingleObject(watchdog_thread, 0) == WAIT_OBJECT_0) {
        write_slot();
        end_process(exit_code_of_slot());
    }
    SetEvent(fault_ready);
    stand_still();
}

// Claims the slot for the calling thread, or stands still when another fault
// came first; a fault of the watchdog itself ends the process at once.
void claim_or_stand_still(DWORD code) noexcept
{
    if (GetCurrentThreadId() == watchdog_id) end_process(code);
    if (!claim()) stand_still();
}

void copy_exception(const EXCEPTION_POINTERS* pointers) noexcept
{
    std::memcpy(&slot.record, pointers->ExceptionRecord, sizeof slot.record);
    std::memcpy(&slot.context, pointers->ContextRecord, sizeof slot.context);
}

// First chance, before the plug-in's own handlers: a stack overflow (no
// handler of the plug-in could run without stack) and the guarded stream.
LONG CALLBACK on_first_chance(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    const bool overflow = record.ExceptionCode == EXCEPTION_STACK_OVERFLOW;
    stream_access access;
    if (!overflow) {
        if (record.ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record.NumberParameters < 2)
            return EXCEPTION_CONTINUE_SEARCH;
        // A thread of the plug-in may touch the stream while the host's is in
        // its Update, too.
        const bool in_update = current_call() == plugin_call::update;
        access = classify_stream_access(record.ExceptionInformation[1], record.ExceptionInformation[0] == 1,
                                        in_update ? current_frame() : 0);
        if (access.kind == nullptr) return EXCEPTION_CONTINUE_SEARCH;
    }
    claim_or_stand_still(record.ExceptionCode);
    copy_exception(pointers);
    slot.stream = access;
    hand_over(overflow ? fault_type::stack_overflow : fault_type::stream);
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
    RtlCaptureContext(&slot.context);
    slot.code = 3;
    hand_over(fault_type::abort_called);
}

// ", plug-in frames: p.dll+0x1a2b, p.dll+0x3c4d".
void write_plugin_frames(result_writer& out, std::uintptr_t skip) noexcept
{
    module_range plugin = plugin_range();
    if (plugin.empty()) plugin = unloaded_plugin_range();
    std::uintptr_t frames[4];
    const std::size_t count = plugin_frames(slot.context, plugin, frames, 4);
    const char* separator = ", plug-in frames: ";
    for (std::size_t i = 0; i < count; ++i) {
        if (frames[i] == skip || (i > 0 && frames[i] == frames[i - 1])) continue;  // a recursion shows once
        out.text(separator);
        write_address(out, frames[i]);
        separator = ", ";
    }
}

void write_exception(result_writer& out) noexcept
{
    const EXCEPTION_RECORD& record = slot.record;
    const auto code = static_cast<std::uint32_t>(record.ExceptionCode);
    const auto address = reinterpret_cast<std::uintptr_t>(record.ExceptionAddress);
    const bool access_violation = code == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2;
    if (is_cpp_exception(code)) {
        out.text("a ").text(exception_name(code)).text(" was not caught: it left the plug-in");
    } else if (access_violation && record.ExceptionInformation[0] == 8) {
        out.text("access violation executing code");
    } else if (access_violation) {
        out.text("access violation ").text(record.ExceptionInformation[0] == 1 ? "writing " : "reading ");
        out.hex(record.ExceptionInformation[1]);
    } else if (const char* name = exception_name(code)) {
        out.text(name).text(" (").hex(code).text(")");
    } else {
        out.text("exception ").hex(code);
    }
    out.text(" at ");
    write_address(out, address);
    write_plugin_frames(out, address);
}

// On which thread, when not the host's.
void write_thread(result_writer& out) noexcept
{
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
    return slot.type == fault_type::exception && plugin_range().empty() &&
           unloaded_plugin_range().contains(reinterpret_cast<std::uintptr_t>(slot.record.ExceptionAddress));
}

const char* kind_of_slot() noexcept
{
    switch (slot.type) {
        case fault_type::exception:
            return is_cpp_exception(static_cast<std::uint32_t>(slot.record.ExceptionCode)) ? failure_kind::cpp_exception
                                                                                           : failure_kind::crash;
        case fault_type::stack_overflow: return failure_kind::stack_overflow;
        case fault_type::stream: return slot.stream.kind;
        case fault_type::abort_called: return failure_kind::abort_called;
        case fault_type::process_end: return failure_kind::process_ended;
        case fault_type::hang: return failure_kind::hang;
    }
    return failure_kind::crash;
}

void write_summary(result_writer& out) noexcept
{
    const auto fault_address = reinterpret_cast<std::uintptr_t>(slot.record.ExceptionAddress);
    switch (slot.type) {
        case fault_type::exception: write_exception(out); break;
        case fault_type::stack_overflow:
            out.text("stack overflow at ");
            write_address(out, fault_address);
            write_plugin_frames(out, fault_address);
            break;
        case fault_type::stream:
            write_stream_access(out, slot.stream);
            out.text(" at ");
            write_address(out, fault_address);
            write_plugin_frames(out, fault_address);
            write_thread(out);
            if (slot.stream.kind == failure_kind::kept_stream) out.text(": the plug-in kept a pointer to it");
            return;
        case fault_type::abort_called:
            if (slot.assertion[0] != '\0')
                out.text("a failed assertion called abort(): ").text(slot.assertion);
            else
                out.text("abort() was called (std::terminate ends in it too)");
            write_plugin_frames(out, 0);
            break;
        case fault_type::process_end:
            out.text("the plug-in ended the process: ").text(slot.how).text("(").number(slot.code).text(")");
            write_plugin_frames(out, 0);
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
            write_plugin_frames(out, slot.context.Rip);
            break;
        }
    }
    write_thread(out);
    if (ran_after_unload()) out.text(": code of the plug-in (a thread, a callback, a handler) ran after FreeLibrary");
}

// A C++ exception of the validator's own: thrown on the host's thread
// outside any call into the plug-in.
bool validator_exception() noexcept
{
    return slot.type == fault_type::exception && slot.host_thread && slot.call == plugin_call::none &&
           is_cpp_exception(static_cast<std::uint32_t>(slot.record.ExceptionCode));
}

void write_slot() noexcept
{
    result_writer* out = begin_fault();
    if (out == nullptr) return;
    if (validator_exception()) {
        out->line("result", "error");
        out->line("summary", "validate: the check stopped on a C++ exception of its own, outside the plug-in");
        out->line("kind", validator_error_kind);
        commit_fault();
        return;
    }
    out->line("result", "failed");
    write_summary(out->begin("summary"));
    out->end();
    out->line("kind", kind_of_slot());
    // Code that ran after the DLL left ran after FreeLibrary, whatever the
    // host's thread was doing at that moment.
    const plugin_call call =
        slot.call == plugin_call::none && ran_after_unload() ? plugin_call::after_free_library : slot.call;
    if (call != plugin_call::none) out->line("call", call_name(call));
    if (slot.frame != 0) out->begin("frame").number(slot.frame).end();
    const channel_block* block = channel();
    if (slot.call == plugin_call::update && block != nullptr && block->frame_note[0] != '\0')
        out->begin("note").text("the frame: ").text(block->frame_note).end();
    commit_fault();
}

std::uint32_t exit_code_of_slot() noexcept
{
    switch (slot.type) {
        case fault_type::exception:
        case fault_type::stack_overflow:
        case fault_type::stream: return static_cast<std::uint32_t>(slot.record.ExceptionCode);
        case fault_type::abort_called:
        case fault_type::process_end: return slot.code;
        case fault_type::hang: return 1;
    }
    return 1;
}

// Stops the host's thread if the call it is in has run past the hang limit;
// false when the call returned meanwhile.
bool stop_hung_host() noexcept
{
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
        InterlockedExchange(&claimed, 0);
        return false;
    }
    slot.context.ContextFlags = CONTEXT_FULL;
    GetThreadContext(host, &slot.context);
    slot.type = fault_type::hang;
    slot.host_thread = true;
    slot.call = call;
    slot.frame = current_frame();
    return true;
}

DWORD WINAPI watchdog(void* running)
{
    SetEvent(static_cast<HANDLE>(running));
    for (;;) {
        if (WaitForSingleObject(fault_ready, 50) == WAIT_OBJECT_0 || stop_hung_host()) {
            write_slot();
            end_process(exit_code_of_slot());
        }
    }
}

}  // namespace

void install_fault_capture() noexcept
{
    fault_ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // The watchdog must be running before the plug-in is loaded: a thread's
    // start needs the loader lock, which a DllMain that hangs holds.
    const HANDLE running = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    watchdog_thread = CreateThread(nullptr, 64 * 1024, watchdog, running, 0, &watchdog_id);
    if (watchdog_thread != nullptr) WaitForSingleObject(running, INFINITE);
    CloseHandle(running);
    AddVectoredExceptionHandler(1, on_first_chance);
    SetUnhandledExceptionFilter(on_unhandled);
    std::signal(SIGABRT, on_abort);
    // No dialog box for a crash or a failed load: the child must end.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

void watch_host_thread(HANDLE thread) noexcept
{
    host = thread;
}

void report_process_end(const char* how, std::uint32_t code) noexcept
{
    claim_or_stand_still(code);
    RtlCaptureContext(&slot.context);
    slot.how = how;
    slot.code = code;
    hand_over(fault_type::process_end);
}

void report_failed_assertion(const char* text) noexcept
{
    claim_or_stand_still(3);
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
    result_writer* out = begin_fault();
    if (out == nullptr) return;
    out->line("result", "failed");
    out->begin("summary").text("the host's thread ended in ").text(call_name(current_call()));
    out->text(" without returning (thread exit code ").number(exit_code).text("): the plug-in ended it").end();
    out->line("kind", failure_kind::crash);
    out->line("call", call_name(current_call()));
    if (current_frame() != 0) out->begin("frame").number(current_frame()).end();
    commit_fault();
}

LPTOP_LEVEL_EXCEPTION_FILTER own_exception_filter() noexcept
{
    return on_unhandled;
}

void report_fault(const check_result& fault) noexcept
{
    claim_or_stand_still(1);
    if (result_writer* out = begin_fault()) {
        write_check_result(*out, fault);
        commit_fault();
    }
    end_process(1);
}

}  // namespace validate
