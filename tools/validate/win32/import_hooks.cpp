#include "tools/validate/win32/import_hooks.h"

#include <cstring>

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

// ---- Registrations ----

registration_table& table() noexcept
{
    return the_child().registrations;
}

registration* add_registration(registration_type type, std::uintptr_t handle, std::uintptr_t code) noexcept
{
    const LONG index = InterlockedIncrement(&table().count) - 1;
    if (index >= static_cast<LONG>(registration_table::capacity)) return nullptr;
    registration& entry = table().entries[index];
    entry = registration{type, handle, code, nullptr, GetCurrentThreadId(), 0, {}, 0};
    return &entry;
}

void mark_removed(registration_type type, std::uintptr_t handle, DWORD thread = 0) noexcept
{
    const LONG count = table().count;
    for (LONG i = 0; i < count && i < static_cast<LONG>(registration_table::capacity); ++i) {
        registration& entry = table().entries[i];
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

struct hook {
    const char* name;
    void* replacement;
};

template <class Function>
void* address_of(Function function) noexcept
{
    return reinterpret_cast<void*>(function);
}

const hook hooks[] = {
    {"ExitProcess", address_of(hooked_exit_process)},
    {"TerminateProcess", address_of(hooked_terminate_process)},
    {"exit", address_of(hooked_exit)},
    {"_exit", address_of(hooked_underscore_exit)},
    {"_Exit", address_of(hooked_capital_exit)},
    {"quick_exit", address_of(hooked_quick_exit)},
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
    static const char* const names[] = {"WH_MSGFILTER",   "WH_JOURNALRECORD", "WH_JOURNALPLAYBACK", "WH_KEYBOARD",
                                        "WH_GETMESSAGE",  "WH_CALLWNDPROC",   "WH_CBT",             "WH_SYSMSGFILTER",
                                        "WH_MOUSE",       "WH_HARDWARE",      "WH_DEBUG",           "WH_SHELL",
                                        "WH_FOREGROUNDIDLE", "WH_CALLWNDPROCRET", "WH_KEYBOARD_LL",  "WH_MOUSE_LL"};
    return type >= -1 && type <= 14 ? names[type + 1] : "type " + std::to_string(type);
}

bool thread_alive(DWORD id) noexcept
{
    const HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (thread == nullptr) return false;
    const bool alive = WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
    CloseHandle(thread);
    return alive;
}

}  // namespace

void hook_plugin_imports(HMODULE plugin) noexcept
{
    InterlockedExchange(&table().count, 0);
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
            for (const hook& h : hooks) {
                if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), h.name) != 0) continue;
                DWORD old = 0;
                if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old)) break;
                slots->u1.Function = reinterpret_cast<ULONGLONG>(h.replacement);
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
                break;
            }
        }
    }
}

std::vector<std::string> registrations_left(module_range unloaded)
{
    std::vector<std::string> left;
    const LONG capacity = static_cast<LONG>(registration_table::capacity);
    const LONG count = table().count < capacity ? table().count : capacity;
    for (LONG i = 0; i < count; ++i) {
        const registration& entry = table().entries[i];
        if (entry.removed || !unloaded.contains(entry.code)) continue;
        const std::string code = describe_address(entry.code);
        switch (entry.type) {
            case registration_type::window_class: {
                WNDCLASSEXW still{};
                still.cbSize = sizeof still;
                if (GetClassInfoExW(entry.instance, reinterpret_cast<LPCWSTR>(entry.handle), &still))
                    left.push_back("the window class \"" + std::string(entry.name) + "\" (window procedure at " +
                                   code + "): a window of it would crash the host");
                break;
            }
            case registration_type::window_hook:
                if (entry.thread == 0 || thread_alive(entry.thread))
                    left.push_back("a window hook " + hook_type_name(entry.hook_type) + " (procedure at " + code +
                                   ")");
                break;
            case registration_type::timer:
                if (thread_alive(entry.thread))
                    left.push_back("a timer of thread " + std::to_string(entry.thread) + " (procedure at " + code +
                                   ")");
                break;
            case registration_type::exception_handler:
                left.push_back("a vectored exception handler at " + code);
                break;
            case registration_type::continue_handler:
                left.push_back("a vectored continue handler at " + code);
                break;
        }
    }
    return left;
}

}  // namespace validate
