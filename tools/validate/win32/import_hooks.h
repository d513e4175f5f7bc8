// Hooks in the plug-in's import table, set after each load, through which the
// child sees the calls the plug-in makes that block the host's frame
// (blocking_calls.h), and three more kinds:
// - calls that end the process (ExitProcess, TerminateProcess of itself,
//   exit, _exit, _Exit, quick_exit): reported from the plug-in's frame that
//   made them, instead of a bare exit code;
// - a failed assertion (the C runtime's _assert and _wassert, which print
//   their text and end in abort()): reported as abort() with its text;
// - registrations that must be undone before the DLL goes (window classes,
//   window hooks, thread timers, vectored exception handlers): kept, so that
//   after FreeLibrary those still in place with code in the unloaded DLL can
//   be named.
// Every hook but the assertion's calls the real function; only calls through
// the plug-in's own import table are seen.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/validate/win32/module_table.h"

namespace validate {

// One hook of the plug-in's import table: the imported function's name and
// the function that takes its place. A hook that calls the very function it
// replaces (one of another runtime than the validator's, such as a C
// runtime's fwrite) finds it in `original`, set at the first hook: a slot of
// that name that holds another function is left alone. A hook of a function
// with a variable number of arguments (fprintf) also finds its twin that
// takes a va_list (vfprintf), of the same DLL, in `twin`: without one, the
// slot is left alone.
struct import_hook {
    const char* name;
    void* replacement;
    void** original = nullptr;
    const char* twin_name = nullptr;
    void** twin = nullptr;
};

// What the plug-in registered, part of the child's state: kept by the hooks
// on any thread, without allocating.
enum class registration_type {
    window_class,
    window_hook,
    timer,
    exception_handler,
    continue_handler,
    console_handler,  // SetConsoleCtrlHandler
    pool_timer,  // a thread-pool timer set to come back (CreateThreadpoolTimer, SetThreadpoolTimer)
    queue_timer,  // a timer-queue timer that comes back (CreateTimerQueueTimer)
    registered_wait,  // RegisterWaitForSingleObject, not only once
};
struct registration {
    registration_type type;
    std::uintptr_t handle;  // the class atom, hook, timer id, handler, handler handle, timer or wait
    std::uintptr_t code;  // the window procedure, hook procedure, timer procedure, handler or callback
    HINSTANCE instance;  // of a window class
    DWORD thread;  // of a hook (0: every thread) or a timer
    int hook_type;
    std::uintptr_t queue;  // of a timer-queue timer
    DWORD period_ms;  // of a timer that comes back
    char name[64];  // of a window class
    volatile LONG removed;  // undone, or (a thread-pool timer) no longer set to come back
};
struct registration_table {
    static constexpr std::size_t capacity = 256;
    registration entries[capacity];
    volatile LONG count = 0;
    // The threads the plug-in started through its import table (CreateThread,
    // _beginthreadex, _beginthread), by id; those past the capacity are not kept.
    static constexpr std::size_t thread_capacity = 1024;
    DWORD threads[thread_capacity];
    volatile LONG thread_count = 0;
};

// Hooks the plug-in's imports and forgets the registrations of earlier loads.
void hook_plugin_imports(HMODULE plugin) noexcept;

// The plug-in's registrations still in place whose code lies in `unloaded`,
// in words: "the window class \"x\" (window procedure at the unloaded
// plug-in p.dll+0x1a2b)".
std::vector<std::string> registrations_left(module_range unloaded);

// The plug-in's callbacks set to come back (thread-pool and timer-queue
// timers, registered waits) that are still set, each with its place in the
// table and in words: "a thread-pool timer every 10 ms (callback at
// p.dll+0x1a2b)".
std::vector<std::pair<long, std::string>> recurring_callbacks();

// Whether the plug-in started the thread of this id through its import table.
bool started_by_plugin(DWORD thread) noexcept;

}  // namespace validate
