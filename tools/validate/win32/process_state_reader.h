// Reads the process state that the validator compares (process_state.h) on
// the calling thread, which must be the host's: MXCSR, the x87 control word,
// the thread's locale and priority are the calling thread's own.
#pragma once

#include "tools/validate/process_state.h"

namespace validate {

// Fills `state`, reusing its strings' memory. Reading the unhandled-exception
// filter and the C runtime's SIGABRT handler puts the child's own back.
void read_process_state(process_state& state);

}  // namespace validate
