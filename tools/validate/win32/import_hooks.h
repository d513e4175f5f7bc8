// Hooks in the plug-in's import table, set after each load, through which the
// child sees two kinds of call the plug-in makes:
// - calls that end the process (ExitProcess, TerminateProcess of itself,
//   exit, _exit, _Exit, quick_exit): reported from the plug-in's frame that
//   made them, instead of a bare exit code;
// - registrations that must be undone before the DLL goes (window classes,
//   window hooks, thread timers, vectored exception handlers): kept, so that
//   after FreeLibrary those still in place with code in the unloaded DLL can
//   be named.
// Every hook calls the real function; only calls through the plug-in's own
// import table are seen.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/validate/win32/module_table.h"

namespace validate {

// What the plug-in registered, part of the child's state: kept by the hooks
// on any thread, without allocating.
enum class registration_type { window_class, window_hook, timer, exception_handler, continue_handler };
struct registration {
    registration_type type;
    std::uintptr_t handle;  // the class atom, hook, timer id or handler handle
    std::uintptr_t code;    // the window procedure, hook procedure, timer procedure or handler
    HINSTANCE instance;     // of a window class
    DWORD thread;           // of a hook (0: every thread) or a timer
    int hook_type;
    char name[64];  // of a window class
    volatile LONG removed;
};
struct registration_table {
    static constexpr std::size_t capacity = 256;
    registration entries[capacity];
    volatile LONG count = 0;
};

// Hooks the plug-in's imports and forgets the registrations of earlier loads.
void hook_plugin_imports(HMODULE plugin) noexcept;

// The plug-in's registrations still in place whose code lies in `unloaded`,
// in words: "the window class \"x\" (window procedure at the unloaded
// plug-in p.dll+0x1a2b)".
std::vector<std::string> registrations_left(module_range unloaded);

}  // namespace validate
