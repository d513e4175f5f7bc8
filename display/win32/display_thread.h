// The display thread: the plug-in's one window at the right edge of the
// primary screen, its 500 ms repaint timer and its message loop.
#pragma once

#include <windows.h>

#include "display/win32/display_state.h"

// The window class of the display window. It stays registered from the first
// run of the display thread until the library unloads.
inline constexpr char display_class_name[] = "skarvel_external_dll_sample";
inline constexpr char display_caption[] = "Skarvel External DLL Sample";

// The body of the display thread, run with a state made for it. Starts
// GDI+, registers the window class, creates and shows the window, arms the
// timer and runs the message loop until the user closes the window or a
// stop is requested; then destroys the window and shuts GDI+ down. Returns
// at once, past the window's creation, when a stop was requested before the
// window existed or when the window cannot be created.
void display_thread_proc(display_state& state) noexcept;

// The display window's procedure: paints on WM_PAINT, invalidates on
// WM_TIMER, notes the user's close on WM_CLOSE, ends the loop on WM_DESTROY.
// It finds its state through the window (GWLP_USERDATA).
LRESULT CALLBACK display_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

// The host's side, called from the thread that starts and stops the display
// thread, never from the display thread itself.

// Asks the display thread to end, whether its window exists yet or not; does
// not wait. A request made before the window appears is seen by the thread
// right after it creates the window.
void request_display_stop(display_state& state) noexcept;

// True once the display thread has left its message loop (its window is gone
// or going): its end is then only teardown.
bool display_closing(const display_state& state) noexcept;
