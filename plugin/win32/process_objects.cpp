// The plug-in's process-wide objects. Constructed in this order while the
// library loads and destroyed in reverse when it unloads, so the broadcast
// socket is closed first.
#include "plugin/win32/process_objects.h"

tm_message_list frame_list;
handoff_state frame_handoff;
udp_broadcaster motion_sender;
