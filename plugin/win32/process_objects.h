// The plug-in's process-wide objects, constructed while the library loads and
// destroyed in reverse order when it unloads.
#pragma once

#include "display/handoff_state.h"
#include "shared/input/tm_message_list.h"
#include "telemetry/udp_broadcaster.h"

extern tm_message_list frame_list;     // the host thread's frame list
extern handoff_state frame_handoff;    // hand-off list, time step and lock
extern udp_broadcaster motion_sender;  // the broadcast's one socket
