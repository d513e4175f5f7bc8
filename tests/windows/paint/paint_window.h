// A 640 x 1080 window that paints through draw_message_list on WM_PAINT,
// as the plug-in's window does, for the paint test programs.
#pragma once

#include <windows.h>

#include "display/win32/draw_message_list.h"

inline LRESULT CALLBACK paint_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        draw_message_list(dc);
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// Registers the class `name` (background: the desktop colour) and shows a
// window of it at the top left.
inline HWND make_paint_window(const char* name)
{
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = paint_window_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BACKGROUND + 1);
    wc.lpszClassName = name;
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, name, name, WS_OVERLAPPEDWINDOW, 0, 0, 640, 1080, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    ShowWindow(window, SW_SHOW);
    return window;
}

// One repaint as the timer asks for it: the whole client area, not erased.
inline void repaint(HWND window)
{
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
}
