#include "tools/validate/win32/fault_capture.h"

#include <psapi.h>

#include <cstdio>
#include <cstring>

#include "tools/validate/child_verdict.h"
#include "tools/validate/win32/child_channel.h"
#include "tools/validate/win32/guarded_stream.h"
#include "tools/validate/win32/process_resources.h"

namespace validate {

namespace {

std::uintptr_t plugin_first = 0;
std::uintptr_t plugin_end = 0;

bool in_plugin(std::uintptr_t address) noexcept
{
    return address >= plugin_first && address < plugin_end;
}

// Walks the faulting thread's stack from the exception's context to the
// first frame whose code lies in the plug-in; 0 when there is none.
std::uintptr_t nearest_plugin_frame(const CONTEXT& fault) noexcept
{
    if (plugin_first == 0) return 0;
    CONTEXT context = fault;
    for (int depth = 0; depth < 64 && context.Rip != 0; ++depth) {
        if (in_plugin(context.Rip)) return context.Rip;
        DWORD64 image_base = 0;
        PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &image_base, nullptr);
        if (function == nullptr) {
            // A leaf function: the return address is on top of the stack.
            context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
            context.Rsp += 8;
            continue;
        }
        void* handler_data = nullptr;
        DWORD64 establisher = 0;
        RtlVirtualUnwind(UNW_FLAG_NHANDLER, image_base, context.Rip, function, &context, &handler_data, &establisher,
                         nullptr);
    }
    return 0;
}

// Writes the failure as the channel's fault and ends the process.
[[noreturn]] void report_and_end(const char* kind, const char* what, const EXCEPTION_POINTERS* pointers) noexcept
{
    const channel_block* block = channel();
    const auto call = block ? static_cast<plugin_call>(block->call) : plugin_call::none;
    const long long frame = block ? block->frame : 0;
    const bool host_thread = block && static_cast<DWORD>(block->host_thread) == GetCurrentThreadId();

    char where[MAX_PATH + 64];
    describe_address(reinterpret_cast<std::uintptr_t>(pointers->ExceptionRecord->ExceptionAddress), where,
                     sizeof where);
    char from[MAX_PATH + 96] = "";
    const std::uintptr_t plugin_frame = nearest_plugin_frame(*pointers->ContextRecord);
    if (plugin_frame != 0 &&
        plugin_frame != reinterpret_cast<std::uintptr_t>(pointers->ExceptionRecord->ExceptionAddress)) {
        char frame_text[MAX_PATH + 32];
        describe_address(plugin_frame, frame_text, sizeof frame_text);
        std::snprintf(from, sizeof from, ", reached from %s", frame_text);
    }
    char thread[MAX_PATH + 96] = "";
    if (!host_thread) {
        char start[MAX_PATH + 32];
        describe_address(thread_start_address(GetCurrentThread()), start, sizeof start);
        std::snprintf(thread, sizeof thread, " on another thread (started at %s)", start);
    }

    char note[300] = "";
    if (block != nullptr && block->frame_note[0] != '\0' && call == plugin_call::update)
        std::snprintf(note, sizeof note, "note the frame: %.255s\n", block->frame_note);
    char text[3072];
    const int length =
        std::snprintf(text, sizeof text, "result failed\nsummary %s at %s%s%s\nkind %s\ncall %s\nframe %lld\n%s", what,
                      where, from, thread, kind, call_name(call), frame, note);
    write_fault_text(text, length > 0 ? static_cast<std::size_t>(length) : 0);
    TerminateProcess(GetCurrentProcess(), pointers->ExceptionRecord->ExceptionCode);
    for (;;) Sleep(INFINITE);
}

// First chance, before the plug-in's own handlers: only the guarded stream.
LONG CALLBACK on_first_chance(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    if (record.ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record.NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    const channel_block* block = channel();
    const bool in_update = block && static_cast<plugin_call>(block->call) == plugin_call::update &&
                           static_cast<DWORD>(block->host_thread) == GetCurrentThreadId();
    char what[256];
    const char* kind = nullptr;
    if (!stream_fault(record.ExceptionInformation[1], record.ExceptionInformation[0] == 1, in_update, what, sizeof what,
                      kind))
        return EXCEPTION_CONTINUE_SEARCH;
    report_and_end(kind, what, pointers);
}

// Last chance: an exception that nothing handled.
LONG WINAPI on_unhandled(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    const auto code = static_cast<std::uint32_t>(record.ExceptionCode);
    char what[320];
    if (is_cpp_exception(code)) {
        std::snprintf(what, sizeof what, "a %s was not caught: it left the plug-in", describe_exit_code(code).c_str());
        report_and_end(failure_kind::cpp_exception, what, pointers);
    }
    if (code == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2 && record.ExceptionInformation[0] == 8) {
        std::snprintf(what, sizeof what, "access violation executing code");  // where: the address itself
    } else if (code == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2) {
        std::snprintf(what, sizeof what, "access violation %s 0x%llx",
                      record.ExceptionInformation[0] == 1 ? "writing" : "reading",
                      static_cast<unsigned long long>(record.ExceptionInformation[1]));
    } else {
        std::snprintf(what, sizeof what, "%s", describe_exit_code(code).c_str());
    }
    report_and_end(failure_kind::crash, what, pointers);
}

}  // namespace

void install_fault_capture() noexcept
{
    AddVectoredExceptionHandler(1, on_first_chance);
    SetUnhandledExceptionFilter(on_unhandled);
    // No dialog box for a crash or a failed load: the child must end.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

void set_plugin_module(HMODULE plugin) noexcept
{
    plugin_first = plugin_end = 0;
    if (plugin == nullptr) return;
    MODULEINFO info{};
    if (GetModuleInformation(GetCurrentProcess(), plugin, &info, sizeof info)) {
        plugin_first = reinterpret_cast<std::uintptr_t>(info.lpBaseOfDll);
        plugin_end = plugin_first + info.SizeOfImage;
    }
}

}  // namespace validate
