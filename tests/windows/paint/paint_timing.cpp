// How long one paint takes: draw_message_list into a memory device context
// and into a shown window, for a full picture of 67 lines and, as the
// baseline of the same run, for the header alone.
//     paint_timing.exe [paints]
#include <windows.h>

#include <gdiplus.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <skarvel/shared/input/tm_external_message.h>

#include "display/handoff_state.h"
#include "display/win32/display_state.h"
#include "tests/windows/paint/paint_window.h"

namespace {

using clock_type = std::chrono::steady_clock;

// 67 records, the most a paint draws, of the usual kinds of values.
tm_message_list full_frame()
{
    const std::uint64_t ids[] = {tm_msg_id("Aircraft.Velocity").GetValue(),
                                 tm_msg_id("Aircraft.AngularVelocity").GetValue(),
                                 tm_msg_id("Simulation.Time").GetValue(),
                                 tm_msg_id("Warnings.WarningMute").GetValue()};  // near the catalogue's end
    tm_message_list frame;
    for (int i = 0; i < 67; ++i) {
        tm_external_message m;
        m.Header.ID = ids[i % 4];
        m.Header.DataType = i % 2 ? tm_msg_data_type::Vector3d : tm_msg_data_type::Double;
        for (int k = 0; k < 3; ++k) {
            const double v = 1234.5678 * (i + 1) / (k + 1);
            std::memcpy(m.Data + std::ptrdiff_t{8} * k, &v, sizeof v);
        }
        frame.push_back(m);
    }
    return frame;
}

struct figure {
    double mean_ms;
    double fastest_ms;  // the least disturbed by other work on the machine
};

// Milliseconds per paint over `paints` paints, after a few unmeasured.
template <class Paint>
figure measure(int paints, Paint&& paint)
{
    for (int i = 0; i < 5; ++i) paint();
    double total = 0.0;
    double fastest = 1e9;
    for (int i = 0; i < paints; ++i) {
        const auto start = clock_type::now();
        paint();
        const std::chrono::duration<double, std::milli> spent = clock_type::now() - start;
        total += spent.count();
        fastest = std::min(fastest, spent.count());
    }
    return {total / paints, fastest};
}

void report(const char* target, figure header, figure full)
{
    std::printf("%-9s header only %7.3f ms (fastest %7.3f), 67 lines %7.3f ms (fastest %7.3f), x%.1f\n", target,
                header.mean_ms, header.fastest_ms, full.mean_ms, full.fastest_ms, full.mean_ms / header.mean_ms);
}

}  // namespace

int main(int argc, char** argv)
{
    const int paints = argc > 1 ? std::atoi(argv[1]) : 200;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput startup;
    Gdiplus::GdiplusStartup(&token, &startup, nullptr);

    HDC memory = CreateCompatibleDC(nullptr);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 640;
    info.bmiHeader.biHeight = -1080;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP target = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, target);

    handoff_state handoff;
    display_picture picture;
    display_state state(GetModuleHandleA(nullptr), handoff, picture);
    HWND window = make_paint_window("paint_timing", state);
    UpdateWindow(window);
    auto window_paint = [window] { repaint(window); };
    auto memory_paint = [memory, &state] { draw_message_list(memory, state); };

    // Nothing handed off yet: every paint draws the header alone.
    const figure header_memory = measure(paints, memory_paint);
    const figure header_window = measure(paints, window_paint);
    // One hand-off; every later paint keeps showing its 67 lines.
    handoff.hand_off(full_frame(), 0.02);
    const figure full_memory = measure(paints, memory_paint);
    const figure full_window = measure(paints, window_paint);

    std::printf("paints per figure: %d\n", paints);
    report("memory DC", header_memory, full_memory);
    report("window", header_window, full_window);

    DestroyWindow(window);
    SelectObject(memory, old);
    DeleteObject(target);
    DeleteDC(memory);
    Gdiplus::GdiplusShutdown(token);
    return 0;
}
