#include "tools/validate/win32/import_hooks.h"

#include <cstring>

#include "tools/validate/win32/blocking_calls.h"
#include "tools/validate/win32/child_state.h"
#include "tools/validate/win32/fault_capture.h"

namespace validate {

namespace {

// ---- Calls that end the process ----

void WINAPI hooked_exit_process(UINT code)
{
    report_process_end("ExitProcess", code);
}

BOOL WINAPI hooked_terminate_process(HANDLE process, UINT code)
{
    if (process == GetCurrentProcess() || GetProcessId(process) == GetCurrentProcessId())
        report_process_end("TerminateProcess", code);
    return TerminateProcess(process, code);
}

void __cdecl hooked_exit(int code)
{
    report_process_end("exit", static_cast<std::uint32_t>(code));
}
void __cdecl hooked_underscore_exit(int code)
{
    report_process_end("_exit", static_cast<std::uint32_t>(code));
}
void __cdecl hooked_capital_exit(int code)
{
    report_process_end("_Exit", static_cast<std::uint32_t>(code));
}
void __cdecl hooked_quick_exit(int code)
{
    report_process_end("quick_exit", static_cast<std::uint32_t>(code));
}

// ---- Failed assertions: their text, as the C runtime prints it ----

// Appends `piece` to the text at `length`, within `size`.
template <class Char>
void append(char* text, std::size_t size, std::size_t& length, const Char* piece) noexcept
{
    if (piece == nullptr) return;
    if constexpr (sizeof(Char) == 1) {
        for (; *piece != '\0' && length + 1 < size; ++piece) text[length++] = *piece;
    } else {
        const int written = WideCharToMultiByte(CP_UTF8, 0, piece, -1, text + length, static_cast<int>(size - length),
                                                nullptr, nullptr);
        if (written > 0) length += static_cast<std::size_t>(written) - 1;
    }
    text[length] = '\0';
}

template <class Char>
[[noreturn]] void report_assertion(const Char* expression, const Char* file, unsigned line) noexcept
{
    char text[512];
    std::size_t length = 0;
    char number[16];
    std::size_t digits = 0;
    do number[digits++] = static_cast<char>('0' + line % 10);
    while ((line /= 10) != 0 && digits < sizeof number);
    char line_text[sizeof number + 1];
    for (std::size_t i = 0; i < digits; ++i) line_text[i] = number[digits - 1 - i];
    line_text[digits] = '\0';
    append(text, sizeof text, length, "Assertion failed: ");
    append(text, sizeof text, length, expression);
    append(text, sizeof text, length, ", file ");
    append(text, sizeof text, length, file);
    append(text, sizeof text, length, ", line ");
    append(text, sizeof text, length, line_text);
    report_failed_assertion(text);
}

void __cdecl hooked_assert(const char* expression, const char* file, unsigned line)
{
    report_assertion(expression, file, line);
}
void __cdecl hooked_wassert(const wchar_t* expression, const wchar_t* file, unsigned line)
{
    report_assertion(expression, file, line);
}

// ---- Registrations ----

registration_table& registrations() noexcept
{
    return the_child().registrations;
}

registration* add_registration(registration_type type, std::uintptr_t handle, std::uintptr_t code) noexcept
{
    const LONG index = InterlockedIncrement(&registrations().count) - 1;
    if (index >= static_cast<LONG>(registration_table::capacity)) return nullptr;
    registration& entry = registrations().entries[index];
    entry = registration{type, handle, code, nullptr, GetCurrentThreadId(), 0, 0, 0, {}, 0};
    return &entry;
}

void mark_removed(registration_type type, std::uintptr_t handle, DWORD thread = 0) noexcept
{
    const LONG count = registrations().count;
    for (LONG i = 0; i < count && i < static_cast<LONG>(registration_table::capacity); ++i) {
        registration& entry = registrations().entries[i];
        if (entry.type == type && entry.handle == handle && (thread == 0 || entry.thread == thread))
            InterlockedExchange(&entry.removed, 1);
    }
}

template <class Char>
void copy_class_name(char (&to)[64], const Char* name) noexcept
{
    std::size_t i = 0;
    if (!IS_INTRESOURCE(name))
        for (; name[i] && i + 1 < sizeof to; ++i) to[i] = name[i] < 128 ? static_cast<char>(name[i]) : '?';
    to[i] = '\0';
}

template <class Class>
ATOM record_class(ATOM atom, const Class& window_class) noexcept
{
    if (atom == 0) return atom;
    if (registration* entry = add_registration(registration_type::window_class, atom,
                                               reinterpret_cast<std::uintptr_t>(window_class.lpfnWndProc))) {
        entry->instance = window_class.hInstance;
        copy_class_name(entry->name, window_class.lpszClassName);
    }
    return atom;
}

ATOM WINAPI hooked_register_class_a(const WNDCLASSA* c)
{
    return c ? record_class(RegisterClassA(c), *c) : RegisterClassA(c);
}
ATOM WINAPI hooked_register_class_w(const WNDCLASSW* c)
{
    return c ? record_class(RegisterClassW(c), *c) : RegisterClassW(c);
}
ATOM WINAPI hooked_register_class_ex_a(const WNDCLASSEXA* c)
{
    return c ? record_class(RegisterClassExA(c), *c) : RegisterClassExA(c);
}
ATOM WINAPI hooked_register_class_ex_w(const WNDCLASSEXW* c)
{
    return c ? record_class(RegisterClassExW(c), *c) : RegisterClassExW(c);
}

HHOOK record_hook(HHOOK hook, int type, HOOKPROC procedure, DWORD thread) noexcept
{
    if (hook == nullptr) return hook;
    if (registration* entry = add_registration(registration_type::window_hook, reinterpret_cast<std::uintptr_t>(hook),
                                               reinterpret_cast<std::uintptr_t>(procedure))) {
        entry->thread = thread;
        entry->hook_type = type;
    }
    return hook;
}

HHOOK WINAPI hooked_set_hook_a(int type, HOOKPROC procedure, HINSTANCE module, DWORD thread)
{
    return record_hook(SetWindowsHookExA(type, procedure, module, thread), type, procedure, thread);
}
HHOOK WINAPI hooked_set_hook_w(int type, HOOKPROC procedure, HINSTANCE module, DWORD thread)
{
    return record_hook(SetWindowsHookExW(type, procedure, module, thread), type, procedure, thread);
}
BOOL WINAPI hooked_unhook(HHOOK hook)
{
    const BOOL done = UnhookWindowsHookEx(hook);
    if (done) mark_removed(registration_type::window_hook, reinterpret_cast<std::uintptr_t>(hook));
    return done;
}

UINT_PTR WINAPI hooked_set_timer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC procedure)
{
    const UINT_PTR timer = SetTimer(window, id, milliseconds, procedure);
    // A window's timers go with the window, which is checked by itself.
    if (timer != 0 && window == nullptr && procedure != nullptr)
        add_registration(registration_type::timer, timer, reinterpret_cast<std::uintptr_t>(procedure));
    return timer;
}
BOOL WINAPI hooked_kill_timer(HWND window, UINT_PTR id)
{
    const BOOL done = KillTimer(window, id);
    if (done && window == nullptr) mark_removed(registration_type::timer, id, GetCurrentThreadId());
    return done;
}

PVOID WINAPI hooked_add_exception_handler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler)
{
    PVOID entry = AddVectoredExceptionHandler(first, handler);
    if (entry != nullptr)
        add_registration(registration_type::exception_handler, reinterpret_cast<std::uintptr_t>(entry),
                         reinterpret_cast<std::uintptr_t>(handler));
    return entry;
}
ULONG WINAPI hooked_remove_exception_handler(PVOID entry)
{
    const ULONG done = RemoveVectoredExceptionHandler(entry);
    if (done) mark_removed(registration_type::exception_handler, reinterpret_cast<std::uintptr_t>(entry));
    return done;
}
PVOID WINAPI hooked_add_continue_handler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler)
{
    PVOID entry = AddVectoredContinueHandler(first, handler);
    if (entry != nullptr)
        add_registration(registration_type::continue_handler, reinterpret_cast<std::uintptr_t>(entry),
                         reinterpret_cast<std::uintptr_t>(handler));
    return entry;
}
ULONG WINAPI hooked_remove_continue_handler(PVOID entry)
{
    const ULONG done = RemoveVectoredContinueHandler(entry);
    if (done) mark_removed(registration_type::continue_handler, reinterpret_cast<std::uintptr_t>(entry));
    return done;
}

BOOL WINAPI hooked_set_console_ctrl_handler(PHANDLER_ROUTINE handler, BOOL add)
{
    const BOOL done = SetConsoleCtrlHandler(handler, add);
    const auto code = reinterpret_cast<std::uintptr_t>(handler);
    if (done && handler != nullptr) {
        if (add)
            add_registration(registration_type::console_handler, code, code);
        else
            mark_removed(registration_type::console_handler, code);
    }
    return done;
}

// Thread-pool timers: set to come back while SetThreadpoolTimer gives a
// period; one that fires once is not kept.
PTP_TIMER WINAPI hooked_create_pool_timer(PTP_TIMER_CALLBACK callback, PVOID context, PTP_CALLBACK_ENVIRON environment)
{
    const PTP_TIMER timer = CreateThreadpoolTimer(callback, context, environment);
    if (timer != nullptr)
        if (registration* entry =
                add_registration(registration_type::pool_timer, reinterpret_cast<std::uintptr_t>(timer),
                                 reinterpret_cast<std::uintptr_t>(callback)))
            InterlockedExchange(&entry->removed, 1);  // not set yet
    return timer;
}
VOID WINAPI hooked_set_pool_timer(PTP_TIMER timer, PFILETIME due, DWORD period_ms, DWORD window_ms)
{
    SetThreadpoolTimer(timer, due, period_ms, window_ms);
    const LONG count = registrations().count;
    for (LONG i = 0; i < count && i < static_cast<LONG>(registration_table::capacity); ++i) {
        registration& entry = registrations().entries[i];
        if (entry.type != registration_type::pool_timer || entry.handle != reinterpret_cast<std::uintptr_t>(timer))
            continue;
        entry.period_ms = period_ms;
        InterlockedExchange(&entry.removed, due != nullptr && period_ms > 0 ? 0 : 1);
    }
}
VOID WINAPI hooked_close_pool_timer(PTP_TIMER timer)
{
    mark_removed(registration_type::pool_timer, reinterpret_cast<std::uintptr_t>(timer));
    CloseThreadpoolTimer(timer);
}

BOOL WINAPI hooked_create_queue_timer(PHANDLE timer, HANDLE queue, WAITORTIMERCALLBACK callback, PVOID parameter,
                                      DWORD due_ms, DWORD period_ms, ULONG flags)
{
    const BOOL done = CreateTimerQueueTimer(timer, queue, callback, parameter, due_ms, period_ms, flags);
    if (done && period_ms > 0) {
        if (registration* entry =
                add_registration(registration_type::queue_timer, reinterpret_cast<std::uintptr_t>(*timer),
                                 reinterpret_cast<std::uintptr_t>(callback))) {
            entry->queue = reinterpret_cast<std::uintptr_t>(queue);
            entry->period_ms = period_ms;
        }
    }
    return done;
}
BOOL WINAPI hooked_delete_queue_timer(HANDLE queue, HANDLE timer, HANDLE completion)
{
    const BOOL done = DeleteTimerQueueTimer(queue, timer, completion);
    // An answer of "pending" still deletes the timer.
    if (done || GetLastError() == ERROR_IO_PENDING)
        mark_removed(registration_type::queue_timer, reinterpret_cast<std::uintptr_t>(timer));
    return done;
}
BOOL WINAPI hooked_delete_queue(HANDLE queue, HANDLE completion)
{
    const BOOL done = DeleteTimerQueueEx(queue, completion);
    if (done || GetLastError() == ERROR_IO_PENDING) {
        const LONG count = registrations().count;
        for (LONG i = 0; i < count && i < static_cast<LONG>(registration_table::capacity); ++i) {
            registration& entry = registrations().entries[i];
            if (entry.type == registration_type::queue_timer && entry.queue == reinterpret_cast<std::uintptr_t>(queue))
                InterlockedExchange(&entry.removed, 1);
        }
    }
    return done;
}

BOOL WINAPI hooked_register_wait(PHANDLE wait, HANDLE object, WAITORTIMERCALLBACK callback, PVOID context,
                                 ULONG timeout_ms, ULONG flags)
{
    const BOOL done = RegisterWaitForSingleObject(wait, object, callback, context, timeout_ms, flags);
    if (done && (flags & WT_EXECUTEONLYONCE) == 0)
        add_registration(registration_type::registered_wait, reinterpret_cast<std::uintptr_t>(*wait),
                         reinterpret_cast<std::uintptr_t>(callback));
    return done;
}
BOOL WINAPI hooked_unregister_wait(HANDLE wait)
{
    const BOOL done = UnregisterWait(wait);
    if (done || GetLastError() == ERROR_IO_PENDING)
        mark_removed(registration_type::registered_wait, reinterpret_cast<std::uintptr_t>(wait));
    return done;
}
BOOL WINAPI hooked_unregister_wait_ex(HANDLE wait, HANDLE completion)
{
    const BOOL done = UnregisterWaitEx(wait, completion);
    if (done || GetLastError() == ERROR_IO_PENDING)
        mark_removed(registration_type::registered_wait, reinterpret_cast<std::uintptr_t>(wait));
    return done;
}

// ---- Threads the plug-in starts ----

void note_thread(DWORD id) noexcept
{
    if (id == 0) return;
    const LONG index = InterlockedIncrement(&registrations().thread_count) - 1;
    if (index < static_cast<LONG>(registration_table::thread_capacity)) registrations().threads[index] = id;
}

HANDLE WINAPI hooked_create_thread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                   LPVOID parameter, DWORD flags, LPDWORD id)
{
    DWORD own_id = 0;
    const HANDLE thread = CreateThread(security, stack, start, parameter, flags, &own_id);
    note_thread(own_id);
    if (id != nullptr) *id = own_id;
    return thread;
}

// The C runtime's thread starts call the runtime the plug-in imported them
// from (the shared msvcrt.dll of MinGW, or Microsoft's), kept at hooking.
using begin_thread_ex_function = std::uintptr_t(__cdecl*)(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned,
                                                          unsigned*);
using begin_thread_function = std::uintptr_t(__cdecl*)(void(__cdecl*)(void*), unsigned, void*);
void* original_begin_thread_ex = nullptr;
void* original_begin_thread = nullptr;

std::uintptr_t __cdecl hooked_begin_thread_ex(void* security, unsigned stack, unsigned(__stdcall* start)(void*),
                                              void* parameter, unsigned flags, unsigned* id)
{
    unsigned own_id = 0;
    const std::uintptr_t thread = reinterpret_cast<begin_thread_ex_function>(original_begin_thread_ex)(
        security, stack, start, parameter, flags, &own_id);
    note_thread(own_id);
    if (id != nullptr) *id = own_id;
    return thread;
}
std::uintptr_t __cdecl hooked_begin_thread(void(__cdecl* start)(void*), unsigned stack, void* parameter)
{
    const std::uintptr_t thread =
        reinterpret_cast<begin_thread_function>(original_begin_thread)(start, stack, parameter);
    // The thread closes its handle when it ends: it may be gone already.
    if (thread != 0 && thread != static_cast<std::uintptr_t>(-1))
        note_thread(GetThreadId(reinterpret_cast<HANDLE>(thread)));
    return thread;
}

template <class Function>
void* address_of(Function function) noexcept
{
    return reinterpret_cast<void*>(function);
}

const import_hook hooks[] = {
    {"ExitProcess", address_of(hooked_exit_process)},
    {"TerminateProcess", address_of(hooked_terminate_process)},
    {"exit", address_of(hooked_exit)},
    {"_exit", address_of(hooked_underscore_exit)},
    {"_Exit", address_of(hooked_capital_exit)},
    {"quick_exit", address_of(hooked_quick_exit)},
    {"_assert", address_of(hooked_assert)},
    {"_wassert", address_of(hooked_wassert)},
    {"RegisterClassA", address_of(hooked_register_class_a)},
    {"RegisterClassW", address_of(hooked_register_class_w)},
    {"RegisterClassExA", address_of(hooked_register_class_ex_a)},
    {"RegisterClassExW", address_of(hooked_register_class_ex_w)},
    {"SetWindowsHookExA", address_of(hooked_set_hook_a)},
    {"SetWindowsHookExW", address_of(hooked_set_hook_w)},
    {"UnhookWindowsHookEx", address_of(hooked_unhook)},
    {"SetTimer", address_of(hooked_set_timer)},
    {"KillTimer", address_of(hooked_kill_timer)},
    {"AddVectoredExceptionHandler", address_of(hooked_add_exception_handler)},
    {"RemoveVectoredExceptionHandler", address_of(hooked_remove_exception_handler)},
    {"AddVectoredContinueHandler", address_of(hooked_add_continue_handler)},
    {"RemoveVectoredContinueHandler", address_of(hooked_remove_continue_handler)},
    {"SetConsoleCtrlHandler", address_of(hooked_set_console_ctrl_handler)},
    {"CreateThreadpoolTimer", address_of(hooked_create_pool_timer)},
    {"SetThreadpoolTimer", address_of(hooked_set_pool_timer)},
    {"CloseThreadpoolTimer", address_of(hooked_close_pool_timer)},
    {"CreateTimerQueueTimer", address_of(hooked_create_queue_timer)},
    {"DeleteTimerQueueTimer", address_of(hooked_delete_queue_timer)},
    {"DeleteTimerQueueEx", address_of(hooked_delete_queue)},
    {"RegisterWaitForSingleObject", address_of(hooked_register_wait)},
    {"UnregisterWait", address_of(hooked_unregister_wait)},
    {"UnregisterWaitEx", address_of(hooked_unregister_wait_ex)},
    {"CreateThread", address_of(hooked_create_thread)},
    {"_beginthreadex", address_of(hooked_begin_thread_ex), &original_begin_thread_ex},
    {"_beginthread", address_of(hooked_begin_thread), &original_begin_thread},
};

// The image's data at `rva`, when the whole `size` lies within the image.
template <class T>
T* at(std::uint8_t* base, std::size_t image_size, std::uint64_t rva, std::size_t size = sizeof(T)) noexcept
{
    return rva != 0 && rva + size <= image_size ? reinterpret_cast<T*>(base + rva) : nullptr;
}

// "WH_GETMESSAGE", or the number of a hook type without a name here.
std::string hook_type_name(int type)
{
    static const char* const names[] = {
        "WH_MSGFILTER",   "WH_JOURNALRECORD", "WH_JOURNALPLAYBACK", "WH_KEYBOARD",       "WH_GETMESSAGE",
        "WH_CALLWNDPROC", "WH_CBT",           "WH_SYSMSGFILTER",    "WH_MOUSE",          "WH_HARDWARE",
        "WH_DEBUG",       "WH_SHELL",         "WH_FOREGROUNDIDLE",  "WH_CALLWNDPROCRET", "WH_KEYBOARD_LL",
        "WH_MOUSE_LL"};
    return type >= -1 && type <= 14 ? names[type + 1] : "type " + std::to_string(type);
}

// "a thread-pool timer every 10 ms (callback at p.dll+0x1a2b)".
std::string describe_callback(const registration& entry)
{
    const std::string every = " every " + std::to_string(entry.period_ms) + " ms";
    const std::string code = " (callback at " + describe_address(entry.code) + ")";
    switch (entry.type) {
        case registration_type::pool_timer: return "a thread-pool timer" + every + code;
        case registration_type::queue_timer: return "a timer-queue timer" + every + code;
        default: return "a registered wait" + code;
    }
}

bool thread_alive(DWORD id) noexcept
{
    const HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (thread == nullptr) return false;
    const bool alive = WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
    CloseHandle(thread);
    return alive;
}

// The hook of an imported function of this name, among this file's and the
// blocking calls'.
const import_hook* find_hook(const char* name) noexcept
{
    for (const import_hook& h : hooks)
        if (std::strcmp(name, h.name) == 0) return &h;
    std::size_t count = 0;
    const import_hook* blocking = blocking_call_hooks(count);
    for (std::size_t i = 0; i < count; ++i)
        if (std::strcmp(name, blocking[i].name) == 0) return &blocking[i];
    return nullptr;
}

// Keeps the function a hook replaces, and its twin, where the hook finds
// them; false when the slot must be left alone: it holds another function
// than the one kept at an earlier hook, or the twin is not there.
bool take_original(const import_hook& h, void* function) noexcept
{
    if (h.original == nullptr) return true;
    if (function == h.replacement) return false;  // hooked already
    if (*h.original != nullptr) return *h.original == function;
    if (h.twin != nullptr) {
        HMODULE dll = nullptr;
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                static_cast<const char*>(function), &dll))
            return false;
        void* twin = reinterpret_cast<void*>(GetProcAddress(dll, h.twin_name));
        if (twin == nullptr) return false;
        *h.twin = twin;
    }
    *h.original = function;
    return true;
}

}  // namespace

void hook_plugin_imports(HMODULE plugin) noexcept
{
    InterlockedExchange(&registrations().count, 0);
    InterlockedExchange(&registrations().thread_count, 0);
    auto* const base = reinterpret_cast<std::uint8_t*>(plugin);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    if (nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) return;
    const std::size_t image_size = nt->OptionalHeader.SizeOfImage;
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* dll = at<IMAGE_IMPORT_DESCRIPTOR>(base, image_size, imports.VirtualAddress); dll && dll->Name != 0;
         ++dll) {
        // Without the names (OriginalFirstThunk) a slot cannot be told apart.
        auto* names = at<IMAGE_THUNK_DATA64>(base, image_size, dll->OriginalFirstThunk);
        auto* slots = at<IMAGE_THUNK_DATA64>(base, image_size, dll->FirstThunk);
        for (; names && slots && names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal)) continue;
            const auto* by_name = at<IMAGE_IMPORT_BY_NAME>(base, image_size, names->u1.AddressOfData, 3);
            if (by_name == nullptr) continue;
            const import_hook* h = find_hook(reinterpret_cast<const char*>(by_name->Name));
            if (h == nullptr || !take_original(*h, reinterpret_cast<void*>(slots->u1.Function))) continue;
            DWORD old = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old)) continue;
            slots->u1.Function = reinterpret_cast<ULONGLONG>(h->replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
        }
    }
}

std::vector<std::string> registrations_left(module_range unloaded)
{
    std::vector<std::string> left;
    const LONG capacity = static_cast<LONG>(registration_table::capacity);
    const LONG count = registrations().count < capacity ? registrations().count : capacity;
    for (LONG i = 0; i < count; ++i) {
        const registration& entry = registrations().entries[i];
        if (entry.removed || !unloaded.contains(entry.code)) continue;
        const std::string code = describe_address(entry.code);
        switch (entry.type) {
            case registration_type::window_class: {
                WNDCLASSEXW still{};
                still.cbSize = sizeof still;
                if (GetClassInfoExW(entry.instance, reinterpret_cast<LPCWSTR>(entry.handle), &still))
                    left.push_back("the window class \"" + std::string(entry.name) + "\" (window procedure at " + code +
                                   "): a window of it would crash the host");
                break;
            }
            case registration_type::window_hook:
                if (entry.thread == 0 || thread_alive(entry.thread))
                    left.push_back("a window hook " + hook_type_name(entry.hook_type) + " (procedure at " + code + ")");
                break;
            case registration_type::timer:
                if (thread_alive(entry.thread))
                    left.push_back("a timer of thread " + std::to_string(entry.thread) + " (procedure at " + code +
                                   ")");
                break;
            case registration_type::exception_handler: left.push_back("a vectored exception handler at " + code); break;
            case registration_type::continue_handler: left.push_back("a vectored continue handler at " + code); break;
            case registration_type::console_handler:
                left.push_back("a console control handler at " + code +
                               ": the host's Ctrl-C or console close would call it");
                break;
            case registration_type::pool_timer:
            case registration_type::queue_timer:
            case registration_type::registered_wait: left.push_back(describe_callback(entry)); break;
        }
    }
    return left;
}

std::vector<std::pair<long, std::string>> recurring_callbacks()
{
    std::vector<std::pair<long, std::string>> found;
    const LONG capacity = static_cast<LONG>(registration_table::capacity);
    const LONG count = registrations().count < capacity ? registrations().count : capacity;
    for (LONG i = 0; i < count; ++i) {
        const registration& entry = registrations().entries[i];
        const bool recurring = entry.type == registration_type::pool_timer ||
                               entry.type == registration_type::queue_timer ||
                               entry.type == registration_type::registered_wait;
        if (recurring && !entry.removed) found.emplace_back(i, describe_callback(entry));
    }
    return found;
}

bool started_by_plugin(DWORD thread) noexcept
{
    const LONG capacity = static_cast<LONG>(registration_table::thread_capacity);
    const LONG count = registrations().thread_count < capacity ? registrations().thread_count : capacity;
    for (LONG i = 0; i < count; ++i)
        if (registrations().threads[i] == thread) return true;
    return false;
}

}  // namespace validate
