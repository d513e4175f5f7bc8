// Painting of the display window: the latest frame drawn off screen with
// GDI+ and copied onto the window in one step.
#pragma once

#include <windows.h>

// Called on WM_PAINT, between BeginPaint and EndPaint, on the display thread.
// Takes the latest frame from frame_handoff (plugin/win32/process_objects.h).
void draw_message_list(HDC dc) noexcept;
