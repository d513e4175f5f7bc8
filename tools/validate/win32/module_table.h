// The modules of the child process, kept current through the loader's DLL
// notifications, so that an address can be named ("kernelbase.dll+0x1a2b")
// from an exception handler or the watchdog without the loader lock, which a
// plug-in hanging in its DllMain holds. Also where the plug-in is: its range
// while loaded, and the range it had once it has been unloaded, since
// nothing may point there afterwards.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/validate/check_result.h"

namespace validate {

// The table, part of the child's state: written by the thread that loads or
// unloads, read by any. A slot is free when its end is 0.
struct module_table {
    struct entry {
        std::atomic<std::uintptr_t> first{0};
        std::atomic<std::uintptr_t> end{0};
        char name[64] = {};
    };
    entry modules[512];
    std::atomic<std::uintptr_t> plugin_first{0}, plugin_end{0};
    std::atomic<std::uintptr_t> unloaded_first{0}, unloaded_end{0};
    std::atomic<long> unmaps{0};
    char unloaded_name[64] = {};
    char expected_plugin[64] = {};
    std::atomic<bool> plugin_expected{false};
};

// Lists the modules loaded now and follows loads and unloads from then on.
void start_module_table() noexcept;

// The next module that the host's thread loads with this file name (no
// folder, any letter case) is the plug-in.
void expect_plugin(std::string_view file_name) noexcept;

struct module_range {
    std::uintptr_t first = 0;
    std::uintptr_t end = 0;
    bool contains(std::uintptr_t address) const noexcept { return address >= first && address < end; }
    bool empty() const noexcept { return first == end; }
};

// The plug-in while it is mapped; empty otherwise.
module_range plugin_range() noexcept;
// Where the plug-in was when it was last unmapped; empty before that.
module_range unloaded_plugin_range() noexcept;
// How many times the plug-in has been unmapped.
long plugin_unmaps() noexcept;

// The module an address lies in, and where in it: the unloaded plug-in's
// too. Null name when it lies in none. Allocation-free.
struct code_location {
    const char* module = nullptr;
    std::uintptr_t offset = 0;
    bool unloaded = false;  // in the plug-in that was unloaded
};
code_location locate(std::uintptr_t address) noexcept;

// "name.dll+0x1a2b", "the unloaded plug-in name.dll+0x1a2b" or "0x7f0012345678
// (in no module)", zero-terminated and cut to `size`. Allocation-free, as is
// write_address.
void address_text(std::uintptr_t address, char* text, std::size_t size) noexcept;
void write_address(result_writer& out, std::uintptr_t address) noexcept;
std::string describe_address(std::uintptr_t address);
// The address as a frame line of the result being written; a return
// address is where a call returns to (see fault_frame).
void write_fault_frame(result_writer& out, std::uintptr_t address, bool return_address) noexcept;

}  // namespace validate
