// Everything the child process that runs a check keeps, in one place, as the
// plug-in keeps its own in one struct: constructed in the order of its
// members before main, and never destroyed, so that an exception handler,
// the watchdog or a hook finds it whole even while the process exits. Each
// part is its subsystem's: the channel's view (child_channel), the module
// table (module_table), the fault capture's slot and watchdog
// (fault_capture), the plug-in's registrations (import_hooks), the blocking
// calls it made in Update (blocking_calls), the placed streams
// (guarded_stream), the warnings (warning_table) and the process state watch
// (state_watch).
#pragma once

#include "tools/validate/win32/blocking_calls.h"
#include "tools/validate/win32/child_channel.h"
#include "tools/validate/win32/fault_capture.h"
#include "tools/validate/win32/guarded_stream.h"
#include "tools/validate/win32/import_hooks.h"
#include "tools/validate/win32/module_table.h"
#include "tools/validate/win32/state_watch.h"
#include "tools/validate/win32/warning_table.h"

namespace validate {

struct child_state {
    channel_view channel;  // the block shared with the validator, the current call's timing
    module_table modules;  // the process's modules, named without the loader lock
    fault_state faults;  // the one fault reported, the watchdog
    registration_table registrations;  // what the plug-in registered through its import table
    blocking_call_table blocking_calls;  // the calls that can block the host's frame, made in Update
    stream_placements streams;  // the guarded streams, for the exception handler
    warning_table warnings;  // what the check will report as warnings
    state_watch watch;  // process state around every call
};

// The child's one state.
child_state& the_child() noexcept;

}  // namespace validate
