// Calls that can block the host's frame, made by the plug-in on the host's
// thread during Update, seen through hooks in its import table and counted
// by name. Which calls, and when each counts (docs/validator.md says why):
// - file input and output, whatever its duration: a write that lands in a
//   buffer today waits for the disk, an antivirus scanner or a network
//   share tomorrow (WriteFile, fwrite, fflush, fopen, _write...);
// - sleeps of a millisecond or more (Sleep, SleepEx);
// - waits on objects and locks that did wait, a millisecond or more (a wait
//   on an object already signalled, or a lock that was free, returns at once
//   and costs the frame nothing);
// - socket calls that wait for the network: receiving, accepting,
//   connecting and sending on a stream, on a socket the plug-in has not made
//   non-blocking; select and WSAPoll with a timeout; looking up a name that is
//   not a numeric address. A datagram sent with sendto is not one: it is
//   handed to the system at once.
// Each hook calls the function it replaces; counting allocates nothing and
// takes no lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "tools/validate/win32/import_hooks.h"

namespace validate {

// The counts, part of the child's state (child_state.h), kept by the hooks
// without allocating or locking.
struct blocking_call_table {
    static constexpr std::size_t functions = 55;  // as many as blocking_calls.cpp names
    static constexpr std::size_t socket_slots = 64;
    volatile LONG64 calls[functions] = {};
    volatile LONG64 updates_with_calls = 0;
    volatile LONG64 last_frame_counted = 0;
    volatile LONG64 waited_ticks = 0;  // in the sleeps, waits and locks counted
    volatile LONG64 nonblocking_sockets[socket_slots] = {};  // made non-blocking by the plug-in; 0: free
    volatile LONG sockets_untracked = 0;  // more were than the table holds
};

// The hooks, for hook_plugin_imports.
const import_hook* blocking_call_hooks(std::size_t& count) noexcept;

struct blocking_call_count {
    const char* name;  // "fwrite"
    std::uint64_t calls;
};

struct blocking_calls_seen {
    std::vector<blocking_call_count> calls;  // each function seen, in the order of the list above
    std::uint64_t total = 0;  // calls in all
    std::uint64_t updates = 0;  // Updates that made one or more
    double waited_seconds = 0.0;  // spent in the sleeps, waits and locks among them
};

// What the plug-in's Updates have made so far in this process.
blocking_calls_seen blocking_calls_so_far();

}  // namespace validate
