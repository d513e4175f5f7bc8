// The display thread and its window procedure. Everything here runs on the
// display thread except the two host-side functions at the end, which touch
// only the atomic values of the state shared with it.
#include "display/win32/display_thread.h"

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

// Runs until the user closes the window, a stop is requested, or the
// thread's quit message arrives (the system returns it whatever the filter).
// The stop request is read before each wait too, so a stop whose WM_QUIT a
// modal loop of the system took (moving the window, its system menu) still
// ends the loop at the next timer message.
void run_message_loop(display_state& state, HWND window) noexcept
{
    MSG msg;
    while (!state.quit && !state.stop_requested.load()) {
        if (GetMessageA(&msg, window, 0, 0) <= 0) break;  // 0: WM_QUIT; -1: the window is gone
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// The state of the window's thread, null before the window knows it.
display_state* state_of(HWND window) noexcept
{
    return reinterpret_cast<display_state*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

}  // namespace

void display_thread_proc(display_state& state) noexcept
{
    const HINSTANCE module = state.module_handle;
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

    state.quit = false;
    const HWND window = CreateWindowExA(0, classname, display_caption, window_style, CW_USEDEFAULT, 0, window_width,
                                        window_height, nullptr, nullptr, module, nullptr);
    // From here on the procedure finds the state through the window; of the
    // messages sent while the hidden window was made it handles none.
    if (window != nullptr) SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    state.window.store(window);

    // A stop asked for before the handle was published found nothing to post
    // to; it is seen here, and the window is never shown.
    if (window != nullptr && !state.stop_requested.load()) {
        SetWindowPos(window, HWND_TOP, GetSystemMetrics(SM_CXSCREEN) - window_width, 0, window_width, window_height,
                     SWP_SHOWWINDOW);
        SetTimer(window, repaint_timer_id, repaint_period_ms, nullptr);
        run_message_loop(state, window);
    }
    state.closing.store(true);

    if (window != nullptr) DestroyWindow(window);  // already gone after the user's close: does nothing
    state.window.store(nullptr);
    if (gdiplus_started) Gdiplus::GdiplusShutdown(gdiplus_token);
}

// Nothing here throws, so nothing can unwind into the system's dispatch.
LRESULT CALLBACK display_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    display_state* const state = state_of(window);
    switch (message) {
        case WM_DESTROY: PostQuitMessage(0); return 0;
        case WM_PAINT:
            if (state != nullptr) {
                PAINTSTRUCT ps;
                const HDC dc = BeginPaint(window, &ps);
                draw_message_list(dc, *state);
                EndPaint(window, &ps);
                return 0;
            }
            break;  // a window without its state yet: the system validates it
        case WM_CLOSE:
            if (state != nullptr) state->quit = true;
            break;  // the system destroys the window
        case WM_TIMER:
            InvalidateRect(window, nullptr, FALSE);  // whole client area, no erase: the paint covers it
            return 0;
        default: break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

void request_display_stop(display_state& state) noexcept
{
    state.stop_requested.store(true);
    if (const HWND window = state.window.load()) PostMessageA(window, WM_QUIT, 0, 0);
}

bool display_closing(const display_state& state) noexcept
{
    return state.closing.load();
}
