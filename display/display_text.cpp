// The texts of the message list, made without the C library's printf: its
// conversions differ between the C runtimes this code meets (how "%hs" and
// "%lld" are read, how NaN, infinity and exact ties in rounding print), and
// the picture must read the same on every one of them. Numbers are written
// by std::to_chars, exact and locale-free; nothing allocates.
#include "display/display_text.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <system_error>

#include <skarvel/catalogue/message_name_list.h>

namespace {

// Appends to a display_text and drops whatever would pass max_length, as a
// bounded formatter that cuts its output does. The text's units start zeroed,
// so it stays terminated.
class text_writer {
public:
    explicit text_writer(display_text& text) noexcept : text_(text) {}

    void put(char16_t unit) noexcept
    {
        if (text_.length < display_text::max_length) text_.units[text_.length++] = unit;
    }

    // Single-byte characters, each widened to the character of the same code.
    void put_bytes(const char* bytes, std::size_t count) noexcept
    {
        for (std::size_t i = 0; i < count; ++i) put(static_cast<unsigned char>(bytes[i]));
    }

    template <std::size_t N>
    void put_literal(const char (&literal)[N]) noexcept
    {
        put_bytes(literal, N - 1);
    }

    // The characters of a fixed string up to its terminating zero.
    void put_string(const tm_fixed_string& string) noexcept
    {
        const char* chars = string.GetCString();
        const std::size_t length = string.GetLength();
        std::size_t count = 0;
        while (count < length && chars[count] != 0) ++count;
        put_bytes(chars, count);
    }

private:
    display_text& text_;
};

// The characters std::to_chars wrote into `buffer`. The buffers here are
// sized for the longest text of their number, so it never runs out of room.
template <std::size_t N>
void put_chars(text_writer& out, const char (&buffer)[N], std::to_chars_result written) noexcept
{
    if (written.ec == std::errc()) out.put_bytes(buffer, static_cast<std::size_t>(written.ptr - buffer));
}

// An integer in decimal, right-aligned in `width` places ("%3u"); a minus
// sign when negative.
template <class Integer>
void put_integer(text_writer& out, Integer value, std::size_t width = 0) noexcept
{
    char buffer[std::numeric_limits<Integer>::digits10 + 2];  // all digits and a sign
    const std::to_chars_result written = std::to_chars(std::begin(buffer), std::end(buffer), value);
    for (std::size_t length = static_cast<std::size_t>(written.ptr - buffer); length < width; ++length) out.put(u' ');
    put_chars(out, buffer, written);
}

// printf's "%.Nf", digit for digit as a correct C library prints it:
// std::to_chars gives the exact binary value rounded to N decimals, an exact
// half to even, locale-free and alike on every runtime; a minus sign whenever
// the sign bit is set ("-0.000", "-nan"). Not-a-number and infinity print as
// "nan", "-nan", "inf" and "-inf".
template <int decimals>
void put_fixed(text_writer& out, double value) noexcept
{
    // A sign, the 309 integer digits of the largest double, a point and the
    // decimals.
    char buffer[1 + std::numeric_limits<double>::max_exponent10 + 1 + 1 + decimals];
    put_chars(out, buffer,
              std::to_chars(std::begin(buffer), std::end(buffer), value, std::chars_format::fixed, decimals));
}

// "v=%.3f"
void put_scalar(text_writer& out, double value) noexcept
{
    out.put_literal("v=");
    put_fixed<3>(out, value);
}

// "v=(%.3f %.3f)" and its longer kin: the components between parentheses,
// one space apart.
void put_vector(text_writer& out, std::initializer_list<double> components) noexcept
{
    out.put_literal("v=(");
    bool first = true;
    for (const double component : components) {
        if (!first) out.put(u' ');
        put_fixed<3>(out, component);
        first = false;
    }
    out.put(u')');
}

}  // namespace

display_text format_header(std::uint64_t message_count, double time_step, std::uint64_t counter) noexcept
{
    display_text text;
    text_writer out(text);
    out.put_literal("messages = ");
    put_integer(out, message_count);
    out.put_literal("  dt=");
    put_fixed<6>(out, time_step);
    out.put_literal("  counter=");
    put_integer(out, counter);
    return text;
}

display_text format_line_number(std::uint32_t line) noexcept
{
    display_text text;
    text_writer out(text);
    put_integer(out, line, 3);
    out.put(u':');
    return text;
}

display_text format_value(const tm_external_message& message) noexcept
{
    display_text text;
    text_writer out(text);
    switch (message.GetDataType()) {
        case tm_msg_data_type::None: out.put_literal("void"); break;
        case tm_msg_data_type::Int:
            out.put_literal("v=");
            put_integer(out, message.GetInt());
            break;
        case tm_msg_data_type::Double: put_scalar(out, message.GetDouble()); break;
        case tm_msg_data_type::Vector2d: {
            const tm_vector3d v = message.GetVector2d();
            put_vector(out, {v.x, v.y});
            break;
        }
        case tm_msg_data_type::Vector3d: {
            const tm_vector3d v = message.GetVector3d();
            put_vector(out, {v.x, v.y, v.z});
            break;
        }
        case tm_msg_data_type::Vector4d: {
            const tm_vector4d v = message.GetVector4d();
            put_vector(out, {v.x, v.y, v.z, v.w});
            break;
        }
        case tm_msg_data_type::String:
        case tm_msg_data_type::String8:
            out.put_literal("s='");
            out.put_string(message.GetString());
            out.put(u'\'');
            break;
        default:  // data types 8 to 255 have no value text
            break;
    }
    return text;
}

display_text format_name_and_flags(const tm_external_message& message) noexcept
{
    display_text text;
    text_writer out(text);
    out.put(u'\'');
    out.put_string(get_message_name(message));
    out.put_literal("'  flags=");
    put_integer(out, message.GetFlags().GetValue());
    return text;
}
