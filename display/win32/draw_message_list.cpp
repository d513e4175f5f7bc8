// Painting of the display window through the GDI+ flat interface. Every GDI+
// object of a paint is made and released within that paint; no status is
// examined: an object GDI+ could not make stays null, and every later call
// that uses it fails without effect, so the paint still runs to its end.
#include "display/win32/draw_message_list.h"

#include <gdiplus.h>

#include "display/display_text.h"

// GDI+ takes UTF-16 text as WCHAR, the 16-bit wchar_t of Windows: the texts'
// char16_t units pass unchanged.
static_assert(sizeof(wchar_t) == sizeof(char16_t) && sizeof(WCHAR) == sizeof(char16_t), "WCHAR holds one UTF-16 unit");

namespace {

namespace gdip = Gdiplus::DllExports;

constexpr Gdiplus::ARGB black_colour = 0xFF000000;  // ARGB(255, 0, 0, 0)
constexpr Gdiplus::ARGB clear_colour = 0xFFDCE8F4;  // ARGB(255, 220, 232, 244)
constexpr float font_size = 11.0f;  // pixels

const WCHAR* as_wide(const display_text& text) noexcept
{
    return reinterpret_cast<const WCHAR*>(text.units);
}

}  // namespace

void draw_message_list(HDC dc, display_state& state) noexcept
{
    using namespace display_layout;

    Gdiplus::GpBitmap* backbuffer = nullptr;
    gdip::GdipCreateBitmapFromScan0(width, height, 0, PixelFormat24bppRGB, nullptr, &backbuffer);
    Gdiplus::GpGraphics* graphics = nullptr;
    gdip::GdipGetImageGraphicsContext(backbuffer, &graphics);
    Gdiplus::GpSolidFill* black = nullptr;
    gdip::GdipCreateSolidFill(black_colour, &black);
    Gdiplus::GpFontFamily* font_family = nullptr;
    gdip::GdipCreateFontFamilyFromName(L"Courier New", nullptr, &font_family);
    Gdiplus::GpFont* font = nullptr;
    gdip::GdipCreateFont(font_family, font_size, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel, &font);

    gdip::GdipGraphicsClear(graphics, clear_colour);

    // The only moment the hand-off lock is held: one exchange of two lists.
    display_picture& picture = state.picture;
    state.handoff.take_latest(picture.messages, picture.time_step);
    ++picture.paint_counter;

    compose_message_list(picture.messages, picture.time_step, picture.paint_counter,
                         [graphics, font, black](float x, float y, const display_text& text) noexcept {
                             // A layout box of no size: the text starts at (x, y)
                             // and is neither wrapped nor clipped.
                             const Gdiplus::RectF origin(x, y, 0.0f, 0.0f);
                             gdip::GdipDrawString(graphics, as_wide(text), -1, font, &origin, nullptr, black);
                         });

    // The finished picture reaches the window in one unscaled image draw.
    Gdiplus::GpGraphics* graphics_final = nullptr;
    gdip::GdipCreateFromHDC(dc, &graphics_final);
    gdip::GdipDrawImageI(graphics_final, backbuffer, 0, 0);

    gdip::GdipDeleteGraphics(graphics_final);
    gdip::GdipDeleteFont(font);
    gdip::GdipDeleteFontFamily(font_family);
    gdip::GdipDeleteBrush(black);
    gdip::GdipDeleteGraphics(graphics);
    gdip::GdipDisposeImage(backbuffer);
}
