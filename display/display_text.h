// What a paint of the message list draws, as portable text: the header line
// and, per record, its line number, value text and name-and-flags text, each
// with its position. The Windows side only hands these to GDI+.
#pragma once

#include <cstddef>
#include <cstdint>

#include <skarvel/shared/input/tm_external_message.h>
#include <skarvel/shared/input/tm_message_list.h>

// A formatted text of at most 254 UTF-16 units and a terminating zero; units
// past the text are zero. Longer output is cut at 254 units. Single-byte
// characters (names, string values) widen to the character of the same code.
// Numbers read the same on every C runtime: the digits of the exact value,
// rounded to the shown decimals with an exact half going to the even digit,
// a minus sign whenever the sign bit is set ("-0.000"), and "nan", "-nan",
// "inf", "-inf" for values that are not finite.
struct display_text {
    static constexpr std::uint32_t capacity = 256;
    static constexpr std::uint32_t max_length = 254;
    char16_t units[capacity] = {};
    std::uint32_t length = 0;
};

// Layout of the picture, in pixels of the 640 x 1080 back buffer.
namespace display_layout {
constexpr int width = 640;
constexpr int height = 1080;
constexpr float header_x = 10.0f;
constexpr float first_y = 4.0f;
constexpr float line_height = 16.0f;
constexpr float number_x = 0.0f;
constexpr float value_x = 40.0f;
constexpr float name_x = 300.0f;
// The lines that start within the picture; line 67 lies at y 1076, and its
// glyphs run past the bottom, which cuts them.
constexpr std::uint32_t max_lines = 67;
static_assert(first_y + line_height * max_lines <= height && first_y + line_height * (max_lines + 1) > height);
}  // namespace display_layout

// "messages = %llu  dt=%f  counter=%llu"
display_text format_header(std::uint64_t message_count, double time_step, std::uint64_t counter) noexcept;
// "%3u:"
display_text format_line_number(std::uint32_t line) noexcept;
// By data type: "void", "v=%lld", "v=%.3f", "v=(%.3f %.3f)", ..., "s='%hs'";
// empty for data types 8 and above.
display_text format_value(const tm_external_message& message) noexcept;
// "'%hs'  flags=%llu", the name from the catalogue.
display_text format_name_and_flags(const tm_external_message& message) noexcept;

// Calls draw(x, y, text) for every text of one paint, in drawing order: the
// header, then per shown record its number, value and name-and-flags, up to
// line max_lines.
template <class Draw>
void compose_message_list(const tm_message_list& shown, double time_step, std::uint64_t counter, Draw&& draw)
{
    using namespace display_layout;
    float y = first_y;
    draw(header_x, y, format_header(shown.size(), time_step, counter));
    const std::size_t lines = shown.size() < max_lines ? shown.size() : max_lines;
    for (std::uint32_t line = 1; line <= lines; ++line) {
        const tm_external_message& message = shown[line - 1];
        y += line_height;
        draw(number_x, y, format_line_number(line));
        draw(value_x, y, format_value(message));
        draw(name_x, y, format_name_and_flags(message));
    }
}
