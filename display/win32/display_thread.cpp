// The display thread and its window procedure. Everything here runs on the
// display thread except the three host-side functions at the end, which touch
// only the atomic values shared with it.
#include "display/win32/display_thread.h"

#include <atomic>
#include <cstring>

#include <gdiplus.h>

#include "display/win32/draw_message_list.h"

namespace {

constexpr int window_width = 640;  // outer size, frame and caption included
constexpr int window_height = 1080;
constexpr UINT class_style = CS_VREDRAW | CS_HREDRAW;  // a resize repaints the whole client area
constexpr DWORD window_style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;  // hidden until placed
constexpr UINT_PTR repaint_timer_id = 0;
constexpr UINT repaint_period_ms = 500;

// Shared with the host's thread. Both are sequentially consistent: the
// thread publishes its window and then reads the stop request, the host sets
// the stop request and then reads the window, so at least one side sees the
// other and no stop is lost whichever comes first.
std::atomic<HWND> window_handle{nullptr};
std::atomic<bool> stop_requested{false};
// The thread has left its loop: what remains of it is teardown.
std::atomic<bool> closing{false};

// Display thread only: the user closed the window.
bool quit = false;

// Runs until the user closes the window, a stop is requested, or the
// thread's quit message arrives (the system returns it whatever the filter).
// The stop request is read before each wait too, so a stop whose WM_QUIT a
// modal loop of the system took (moving the window, its system menu) still
// ends the loop at the next timer message.
void run_message_loop(HWND window) noexcept
{
    MSG msg;
    while (!quit && !stop_requested.load()) {
        if (GetMessageA(&msg, window, 0, 0) <= 0) break;  // 0: WM_QUIT; -1: the window is gone
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace

void display_thread_proc(HINSTANCE module) noexcept
{
    char classname[sizeof display_class_name];
    std::memcpy(classname, display_class_name, sizeof classname);

    // GDI+ runs its own background thread (the defaults of the start-up input).
    const Gdiplus::GdiplusStartupInput startup_input;
    ULONG_PTR gdiplus_token = 0;
    const bool gdiplus_started = Gdiplus::GdiplusStartup(&gdiplus_token, &startup_input, nullptr) == Gdiplus::Ok;

    WNDCLASSA wc{};
    wc.style = class_style;
    wc.lpfnWndProc = display_window_proc;
    wc.hInstance = module;
    wc.hIcon = LoadIconA(nullptr, IDI_ASTERISK);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BACKGROUND + 1);  // the desktop colour
    wc.lpszClassName = classname;
    RegisterClassA(&wc);  // fails after the first run: the class registered then serves again

    quit = false;
    const HWND window = CreateWindowExA(0, classname, display_caption, window_style, CW_USEDEFAULT, 0, window_width,
                                        window_height, nullptr, nullptr, module, nullptr);
    window_handle.store(window);

    // A stop asked for before the handle was published found nothing to post
    // to; it is seen here, and the window is never shown.
    if (window != nullptr && !stop_requested.load()) {
        SetWindowPos(window, HWND_TOP, GetSystemMetrics(SM_CXSCREEN) - window_width, 0, window_width, window_height,
                     SWP_SHOWWINDOW);
        SetTimer(window, repaint_timer_id, repaint_period_ms, nullptr);
        run_message_loop(window);
    }
    closing.store(true);

    if (window != nullptr) DestroyWindow(window);  // already gone after the user's close: does nothing
    window_handle.store(nullptr);
    if (gdiplus_started) Gdiplus::GdiplusShutdown(gdiplus_token);
}

LRESULT CALLBACK display_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    try {
        switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            const HDC dc = BeginPaint(window, &ps);
            draw_message_list(dc);
            EndPaint(window, &ps);
            return 0;
        }
        case WM_CLOSE:
            quit = true;
            return DefWindowProcA(window, message, wparam, lparam);  // destroys the window
        case WM_TIMER:
            InvalidateRect(window, nullptr, FALSE);  // whole client area, no erase: the paint covers it
            return 0;
        default:
            return DefWindowProcA(window, message, wparam, lparam);
        }
    } catch (...) {
        return 0;  // nothing may unwind into the system's dispatch
    }
}

void clear_display_stop() noexcept
{
    stop_requested.store(false);
    closing.store(false);
}

void request_display_stop() noexcept
{
    stop_requested.store(true);
    if (const HWND window = window_handle.load()) PostMessageA(window, WM_QUIT, 0, 0);
}

bool display_closing() noexcept
{
    return closing.load();
}
