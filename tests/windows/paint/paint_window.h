// A 640 x 1080 window that paints through draw_message_list on WM_PAINT,
// as the plug-in's window does, for the paint test programs. Each program
// makes a display state of its own, with its own hand-off and picture.
#pragma once

#include <windows.h>

#include "display/win32/draw_message_list.h"

inline LRESULT CALLBACK paint_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    auto* const state = reinterpret_cast<display_state*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_PAINT && state != nullptr) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        draw_message_list(dc, *state);
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// Registers the class `name` (background: the desktop colour) and shows a
// window of it at the top left that paints with `state`.
inline HWND make_paint_window(const char* name, display_state& state)
{
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = paint_window_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BACKGROUND + 1);
    wc.lpszClassName = name;
    RegisterClassA(&wc);
    HWND window =
        CreateWindowExA(0, name, name, WS_OVERLAPPEDWINDOW, 0, 0, 640, 1080, nullptr, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    ShowWindow(window, SW_SHOW);
    return window;
}

// One repaint as the timer asks for it: the whole client area, not erased.
inline void repaint(HWND window)
{
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
}
