#include "tools/validate/win32/stack_walk.h"

namespace validate {

namespace {

// Whether `bytes` at `address` can be read: the stack of a thread that ran
// off its rails may point anywhere.
bool readable(std::uintptr_t address, std::size_t bytes) noexcept
{
    MEMORY_BASIC_INFORMATION info{};
    if (address == 0 || VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) == 0) return false;
    const auto region_end = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
    const DWORD readable_pages = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                 PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return info.State == MEM_COMMIT && (info.Protect & readable_pages) != 0 && (info.Protect & PAGE_GUARD) == 0 &&
           address + bytes <= region_end;
}

}  // namespace

std::size_t plugin_frames(const CONTEXT& start, module_range plugin, std::uintptr_t* frames, std::size_t max) noexcept
{
    if (plugin.empty() || max == 0) return 0;
    CONTEXT context = start;
    std::size_t found = 0;
    for (int depth = 0; depth < 96 && context.Rip != 0 && found < max; ++depth) {
        if (plugin.contains(context.Rip)) frames[found++] = context.Rip;
        // The frame must lie on readable memory before it is unwound.
        if (!readable(context.Rsp, 8)) break;
        const DWORD64 previous_rsp = context.Rsp;
        DWORD64 image_base = 0;
        PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &image_base, nullptr);
        if (function == nullptr) {
            // A leaf function: the return address is on top of the stack.
            context.Rip = *reinterpret_cast<const DWORD64*>(context.Rsp);
            context.Rsp += 8;
        } else {
            void* handler_data = nullptr;
            DWORD64 establisher = 0;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, image_base, context.Rip, function, &context, &handler_data,
                             &establisher, nullptr);
        }
        if (context.Rsp <= previous_rsp) break;  // a stack only unwinds upwards
    }
    return found;
}

bool runs_code_of(DWORD thread_id, module_range plugin) noexcept
{
    if (plugin.empty() || thread_id == GetCurrentThreadId()) return false;
    const HANDLE thread =
        OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, thread_id);
    if (thread == nullptr) return false;
    bool found = false;
    if (SuspendThread(thread) != static_cast<DWORD>(-1)) {
        CONTEXT context{};
        context.ContextFlags = CONTEXT_FULL;
        std::uintptr_t frame = 0;
        found = GetThreadContext(thread, &context) && plugin_frames(context, plugin, &frame, 1) == 1;
        ResumeThread(thread);
    }
    CloseHandle(thread);
    return found;
}

}  // namespace validate
