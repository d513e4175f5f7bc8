// What this process holds, as the resource checks count it: threads (a
// Toolhelp snapshot), windows (top-level and message-only), handles
// (GetProcessHandleCount, or each handle value asked about under Wine, where
// it answers 0) and committed memory.
// A figure this system cannot give comes back empty.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace validate {

struct thread_entry {
    DWORD id = 0;
    std::uintptr_t start = 0;  // the address the thread began at, 0 when unknown
};

std::optional<std::vector<thread_entry>> process_threads();
// Top-level and message-only windows, less the system's input method windows.
std::vector<HWND> process_windows();
std::optional<std::uint64_t> handle_count();

struct memory_figures {
    std::uint64_t committed = 0;    // PagefileUsage: private committed bytes
};
std::optional<memory_figures> memory_use();

// The address a thread began at (its Win32 start address), 0 when unknown.
std::uintptr_t thread_start_address(HANDLE thread) noexcept;

// The window's class and caption: "class \"x\", caption \"y\"".
std::string describe_window(HWND window);

}  // namespace validate
