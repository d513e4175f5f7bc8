#include "tools/validate/win32/process_resources.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <algorithm>
#include <cstring>

namespace validate {

namespace {

// ntdll's NtQuerySystemInformation and NtQueryInformationThread, found at
// run time (they are not in every import library).
using query_system_information = LONG(NTAPI*)(ULONG, void*, ULONG, ULONG*);
using query_information_thread = LONG(NTAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);

template <class Function>
Function ntdll_function(const char* name) noexcept
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(ntdll, name))) : nullptr;
}

constexpr ULONG system_handle_information = 16;
constexpr ULONG thread_query_set_win32_start_address = 9;
constexpr LONG status_info_length_mismatch = static_cast<LONG>(0xC0000004);

// One entry of the system handle table (class 16).
struct system_handle_entry {
    ULONG process_id;
    UCHAR object_type;
    UCHAR flags;
    USHORT handle;
    void* object;
    ACCESS_MASK access;
};
struct system_handle_table {
    ULONG count;
    system_handle_entry entries[1];
};

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
    static const auto query = ntdll_function<query_system_information>("NtQuerySystemInformation");
    if (query == nullptr) return std::nullopt;
    std::vector<unsigned char> buffer(1 << 20);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(system_handle_information, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == status_info_length_mismatch) {
            buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 65536));
            continue;
        }
        if (status < 0) return std::nullopt;
        const auto* table = reinterpret_cast<const system_handle_table*>(buffer.data());
        const std::size_t fit = (buffer.size() - offsetof(system_handle_table, entries)) / sizeof(system_handle_entry);
        const std::size_t count = table->count < fit ? table->count : fit;
        const DWORD self = GetCurrentProcessId();
        std::uint64_t mine = 0;
        for (std::size_t i = 0; i < count; ++i) mine += table->entries[i].process_id == self ? 1 : 0;
        if (mine == 0) return std::nullopt;  // a table without this process's handles counts nothing
        return mine;
    }
    return std::nullopt;
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
