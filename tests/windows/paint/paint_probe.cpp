// A window that paints through draw_message_list on WM_PAINT, driven through
// fixed scenarios: paint_probe.exe <scenario>. It makes a display state of
// its own and hands frames off to it as the plug-in's Update does. What was drawn is read back
// from Wine's GDI+ trace by check_paint_trace.py; the probe itself checks
// that every paint reached the window, and exits non-zero when one did not.
#include <windows.h>

#include <gdiplus.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <skarvel/shared/input/tm_external_message.h>
#include <skarvel/shared/input/tm_message_list.h>

#include "display/handoff_state.h"
#include "display/win32/display_state.h"
#include "tests/windows/paint/paint_window.h"

namespace {

constexpr COLORREF clear_colour = RGB(220, 232, 244);
int failures = 0;

void fail(const char* what)
{
    std::printf("FAIL: %s\n", what);
    std::fflush(stdout);
    ++failures;
}

// Runs every message waiting for the window, system paints included.
void pump(HWND window)
{
    MSG msg;
    while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool is_dark(COLORREF c)
{
    return GetRValue(c) < 128 && GetGValue(c) < 128 && GetBValue(c) < 128;
}

// The picture reached the window: the background colour right of the
// header, and dark text pixels in the header's band (x 10 to 250, y 4 to 18).
void expect_picture_on_window(HWND window)
{
    HDC dc = GetDC(window);
    const COLORREF background = GetPixel(dc, 560, 10);
    int dark = 0;
    for (int y = 4; y < 18; ++y)
        for (int x = 10; x < 250; ++x)
            if (is_dark(GetPixel(dc, x, y))) ++dark;
    ReleaseDC(window, dc);
    if (background != clear_colour) fail("window background is not ARGB(255, 220, 232, 244)");
    if (dark < 50) fail("no header text on the window");
}

tm_external_message record(std::uint64_t id, std::uint8_t type, std::uint64_t flags)
{
    tm_external_message m;
    m.Header.ID = id;
    m.Header.DataType = static_cast<tm_msg_data_type>(type);
    m.Header.Flags = flags;
    return m;
}

template <std::size_t N>
std::uint64_t id_of(const char (&name)[N])
{
    return tm_msg_id(name).GetValue();
}

void put_f64(tm_external_message& m, std::size_t index, double value)
{
    std::memcpy(m.Data + 8 * index, &value, sizeof value);  // little-endian host
}

tm_external_message int_record(std::uint64_t id, std::int64_t value, std::uint64_t flags = 0)
{
    tm_external_message m = record(id, 1, flags);
    std::memcpy(m.Data, &value, sizeof value);
    return m;
}

// A frame of every data type, known and unknown names, and odd flags.
tm_message_list every_data_type()
{
    tm_message_list frame;
    frame.push_back(record(id_of("Aircraft.Crashed"), 0, 0));
    frame.push_back(int_record(id_of("Aircraft.Gear"), -1234567890123, 1));
    tm_external_message d = record(id_of("Simulation.Time"), 2, 2);
    put_f64(d, 0, 3.14159);
    frame.push_back(d);
    tm_external_message v2 = record(id_of("View.Pan.Center"), 3, 3);
    put_f64(v2, 0, 1.5);
    put_f64(v2, 1, -2.25);
    put_f64(v2, 2, 99.0);  // not part of a 2-vector: never shown
    frame.push_back(v2);
    tm_external_message v3 = record(id_of("Aircraft.Velocity"), 4, 4);
    put_f64(v3, 0, 10.0);
    put_f64(v3, 1, -0.0004);
    put_f64(v3, 2, 1234.5678);
    frame.push_back(v3);
    tm_external_message v4 = record(id_of("Aircraft.Orientation"), 5, 5);
    put_f64(v4, 0, 0.1);
    put_f64(v4, 1, 0.2);
    put_f64(v4, 2, 0.3);
    put_f64(v4, 3, 0.4);
    frame.push_back(v4);
    // String: 16-bit units; one above 255 shows as a question mark.
    tm_external_message s = record(id_of("Aircraft.Name"), 6, 6);
    const char16_t units[] = u"Gr\u00fcn \u263a";
    for (std::size_t i = 0; units[i] != 0; ++i) {
        s.Data[2 * i] = static_cast<std::uint8_t>(units[i] & 0xFF);
        s.Data[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
    }
    frame.push_back(s);
    // String8 filling all 64 bytes: no terminator in the record.
    tm_external_message s8 = record(id_of("Aircraft.NearestAirport"), 7, 7);
    for (std::size_t i = 0; i < 64; ++i) s8.Data[i] = static_cast<std::uint8_t>('A' + i % 26);
    frame.push_back(s8);
    frame.push_back(int_record(0x0123456789ABCDEFull, 42, 0xFFFFFFFFFFFFFFFFull));  // not in the catalogue
    frame.push_back(record(id_of("Controls.Trim"), 8, 8));
    frame.push_back(record(0, 255, 9));
    // A value text far wider than its column, cut to 254 characters.
    tm_external_message wide = record(id_of("Aircraft.Wind"), 5, 10);
    put_f64(wide, 0, 1e300);
    put_f64(wide, 1, -1e300);
    frame.push_back(wide);
    return frame;
}

// Frame `tag` of `count` records: Int values tag * 1000 + line number.
tm_message_list numbered_frame(int tag, int count)
{
    tm_message_list frame;
    for (int i = 1; i <= count; ++i)
        frame.push_back(int_record(id_of("Aircraft.Altitude"), tag * 1000 + i, static_cast<std::uint64_t>(i)));
    return frame;
}

bool run(const std::string& scenario, HWND window, display_state& state)
{
    if (scenario == "first") {
        repaint(window);
    } else if (scenario == "data_types") {
        state.handoff.hand_off(every_data_type(), 0.02);
        repaint(window);
    } else if (scenario == "hundred") {
        state.handoff.hand_off(numbered_frame(1, 100), 1.0 / 60.0);
        repaint(window);
    } else if (scenario == "sequence") {
        repaint(window);  // counter 1: nothing yet
        state.handoff.hand_off(numbered_frame(1, 1), 0.5);
        repaint(window);  // counter 2: frame 1
        state.handoff.hand_off(numbered_frame(2, 2), 0.25);
        state.handoff.hand_off(numbered_frame(3, 3), 0.125);
        repaint(window);  // counter 3: frame 3 only
        repaint(window);  // counter 4: still frame 3
        repaint(window);  // counter 5: still frame 3
        state.handoff.hand_off(numbered_frame(4, 2), 0.0625);
        repaint(window);  // counter 6: frame 4
        SetWindowPos(window, nullptr, 0, 0, 600, 1000, SWP_NOMOVE | SWP_NOZORDER);
        pump(window);  // counter 7: a paint the system asks for
    } else if (scenario == "no_device") {
        // Drawing onto no device context fails inside GDI+ and harms nothing;
        // the paint still counts.
        draw_message_list(nullptr, state);
        repaint(window);
    } else {
        std::printf("unknown scenario %s\n", scenario.c_str());
        return false;
    }
    expect_picture_on_window(window);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::printf("usage: paint_probe <scenario>\n");
        return 2;
    }
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput startup;
    Gdiplus::GdiplusStartup(&token, &startup, nullptr);
    handoff_state handoff;
    display_picture picture;
    display_state state(GetModuleHandleA(nullptr), handoff, picture);
    HWND window = make_paint_window("paint_probe", state);
    ValidateRect(window, nullptr);  // the scenario decides every paint
    pump(window);

    const bool known = run(argv[1], window, state);

    DestroyWindow(window);
    Gdiplus::GdiplusShutdown(token);
    std::printf("paints done\n");
    return known && failures == 0 ? 0 : 1;
}
