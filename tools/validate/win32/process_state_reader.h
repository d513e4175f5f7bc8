// Reads the process state that the validator compares (process_state.h) on
// the calling thread, which must be the host's: MXCSR, the x87 control word,
// the thread's locale and priority are the calling thread's own.
#pragma once

#include "tools/validate/process_state.h"

namespace validate {

// Fills `state`, reusing its strings' memory. What no call reads (the
// unhandled-exception filter, the signal handlers) is set for a moment and
// put back.
void read_process_state(process_state& state);

}  // namespace validate
