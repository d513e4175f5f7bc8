// Holds a plug-in to leaving the process as it found it: compares the
// process state (process_state.h) before and after every call into the
// plug-in, and once the DLL has been unmapped compares it with the state
// before the first load and looks for anything that still points into the
// unloaded DLL (the filter, handlers, window classes, hooks, timers, window
// procedures, threads). The first finding is the check's fault, and ends its
// process; a change made inside a call and undone before it returns is none.
#pragma once

#include <string>

#include "tools/validate/check_result.h"
#include "tools/validate/process_state.h"
#include "tools/validate/win32/child_channel.h"

namespace validate {

class state_watch {
public:
    // On the host's thread, before the plug-in is first loaded.
    void start();
    void before_call();
    void after_call(plugin_call call);
    // The validator has changed the state itself (the priority while it
    // measures): the next call reads it afresh. Otherwise each call's reading
    // after it is the next call's before it, and a change between calls (by a
    // thread of the plug-in, or a window procedure on the host's thread)
    // counts for the next call.
    void resync() noexcept { have_before_ = false; }
    // After FreeLibrary, and at the end of the check: checks the unloaded DLL
    // once for each time it has been unmapped since.
    void after_unload();

private:
    [[noreturn]] void fail(fault_kind kind, const std::string& summary, plugin_call call, const char* note);
    bool started_ = false;
    bool have_before_ = false;
    long unmaps_seen_ = 0;
    process_state initial_;
    process_state before_;
    process_state after_;
};

// The child's one watch, used by the plug-in's calls.
state_watch& process_watch() noexcept;

}  // namespace validate
