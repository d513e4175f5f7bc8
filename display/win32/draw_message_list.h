// Painting of the display window: the latest frame drawn off screen with
// GDI+ and copied onto the window in one step.
#pragma once

#include <windows.h>

#include "display/win32/display_state.h"

// Called on WM_PAINT, between BeginPaint and EndPaint, on the display thread.
// Takes the latest frame from the state's hand-off into its picture, counts
// the paint and draws the picture.
void draw_message_list(HDC dc, display_state& state) noexcept;
