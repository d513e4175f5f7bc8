#include "tools/validate/win32/process_resources.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>

namespace validate {

namespace {

// ntdll's NtQueryInformationThread, found at run time (it is not in every
// import library).
using query_information_thread = LONG(NTAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);

template <class Function>
Function ntdll_function(const char* name) noexcept
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(ntdll, name))) : nullptr;
}

constexpr ULONG thread_query_set_win32_start_address = 9;

}  // namespace

std::optional<std::vector<thread_entry>> process_threads()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<thread_entry> threads;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != self) continue;
        thread_entry thread{entry.th32ThreadID, 0};
        if (const HANDLE handle = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID)) {
            thread.start = thread_start_address(handle);
            CloseHandle(handle);
        }
        threads.push_back(thread);
    }
    CloseHandle(snapshot);
    if (threads.empty()) return std::nullopt;  // this thread at least must be there
    return threads;
}

namespace {

// A window of this process that a program made: not one of the input
// method windows that the system gives each thread with a window of its own.
bool made_by_program(HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return false;
    char class_name[32] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    return std::strcmp(class_name, "IME") != 0 && std::strcmp(class_name, "MSCTFIME UI") != 0;
}

}  // namespace

std::vector<HWND> process_windows()
{
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM list) -> BOOL {
            if (made_by_program(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    // Message-only windows are not top-level windows: EnumWindows skips them.
    for (HWND window = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); window != nullptr;
         window = FindWindowExA(HWND_MESSAGE, window, nullptr, nullptr)) {
        if (made_by_program(window)) windows.push_back(window);
    }
    return windows;
}

std::optional<std::uint64_t> handle_count()
{
    DWORD counted = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &counted) && counted > 0) return counted;
    // Under Wine, which answers 0: each handle value is asked about from the
    // lowest up, until a stretch of values that are not handles. The system
    // gives a new handle the lowest free value, so a process's handles lie
    // below such a stretch, but for ones beyond a gap of that many closed
    // handles, which a plug-in's new handles fill first.
    constexpr std::uintptr_t handle_step = 4;
    constexpr std::uintptr_t stretch = 1024 * handle_step;
    std::uint64_t handles = 0;
    std::uintptr_t last = 0;
    for (std::uintptr_t value = handle_step; value - last <= stretch; value += handle_step) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++handles;
            last = value;
        }
    }
    if (handles == 0) return std::nullopt;  // this process holds handles of its own: none found counts nothing
    return handles;
}

std::optional<memory_figures> memory_use()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) || counters.PagefileUsage == 0)
        return std::nullopt;
    return memory_figures{counters.PagefileUsage};
}

std::uintptr_t thread_start_address(HANDLE thread) noexcept
{
    static const auto query = ntdll_function<query_information_thread>("NtQueryInformationThread");
    void* start = nullptr;
    if (query == nullptr || query(thread, thread_query_set_win32_start_address, &start, sizeof start, nullptr) < 0)
        return 0;
    return reinterpret_cast<std::uintptr_t>(start);
}

std::string describe_window(HWND window)
{
    char class_name[128] = {};
    char caption[128] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    // GetWindowText would wait for a window of this process whose thread is stuck.
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof caption, reinterpret_cast<LPARAM>(caption), SMTO_ABORTIFHUNG, 200,
                        &copied);
    return std::string("class \"") + class_name + "\", caption \"" + caption + "\"";
}

}  // namespace validate
