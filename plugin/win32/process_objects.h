// The plug-in's process-wide objects, all in one place: constructed in the
// order of their members while the library loads, destroyed in reverse when
// it unloads. Host thread only, apart from what the display thread is handed:
// the hand-off (under its lock) and the picture (display thread only while
// a display thread runs).
#pragma once

#include <windows.h>

#include <skarvel/shared/input/tm_message_list.h>

#include "display/handoff_state.h"
#include "display/win32/display_state.h"
#include "plugin/win32/display_lifecycle.h"
#include "telemetry/udp_broadcaster.h"

struct process_objects {
    HINSTANCE module_handle = nullptr;  // stored by the load hook before any entry point is called
    display_lifecycle display;  // the display thread and its state
    tm_message_list frame_list;  // the frame being received
    handoff_state frame_handoff;  // hand-off list, time step and lock
    display_picture picture;  // what the window shows, kept across display threads
    udp_broadcaster motion_sender;  // the broadcast's one socket, closed first at unload
};

extern process_objects plugin;
