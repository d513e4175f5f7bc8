// The plug-in's own frames on a thread's stack, nearest first: where a crash,
// an abort or a hang came from, as an author can look it up in a map file.
// Works on the stack of a thread that stands still (the faulting thread in
// its handler, or the host's thread suspended by the watchdog), allocates
// nothing, and takes no lock.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "tools/validate/win32/module_table.h"

namespace validate {

// Unwinds from `start` and stores up to `max` return addresses (or the
// faulting address itself) that lie in `plugin`; the count found.
std::size_t plugin_frames(const CONTEXT& start, module_range plugin, std::uintptr_t* frames, std::size_t max) noexcept;

// Whether another thread of this process has a frame of `plugin` on its
// stack now: it is stopped for the moment it takes to look.
bool runs_code_of(DWORD thread_id, module_range plugin) noexcept;

}  // namespace validate
