// The texts of the message list, made without the C library's printf: its
// conversions differ between the C runtimes this code meets (how "%hs" and
// "%lld" are read, how NaN, infinity and exact ties in rounding print), and
// the picture must read the same on every one of them. Numbers are turned
// into digits here, exactly and in place; nothing allocates.
#include "display/display_text.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "catalogue/message_name_list.h"

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

// Decimal digits of an unsigned number, written backwards from `end`.
// Returns where they start.
char* write_digits_backwards(std::uint64_t value, char* end) noexcept
{
    char* first = end;
    do {
        *--first = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return first;
}

void put_unsigned(text_writer& out, std::uint64_t value, std::size_t width = 0) noexcept
{
    char buffer[20];  // 2^64 - 1 has 20 digits
    char* const end = buffer + sizeof buffer;
    const char* first = write_digits_backwards(value, end);
    for (std::size_t digits = static_cast<std::size_t>(end - first); digits < width; ++digits) out.put(u' ');
    out.put_bytes(first, static_cast<std::size_t>(end - first));
}

void put_signed(text_writer& out, std::int64_t value) noexcept
{
    // The magnitude in unsigned arithmetic, so that INT64_MIN keeps all digits.
    std::uint64_t magnitude = static_cast<std::uint64_t>(value);
    if (value < 0) {
        out.put(u'-');
        magnitude = 0 - magnitude;
    }
    put_unsigned(out, magnitude);
}

// An unsigned integer of up to 36 32-bit limbs, least significant first:
// room for any finite double times 10^6 (below 2^1045).
class wide_unsigned {
public:
    explicit wide_unsigned(std::uint64_t value) noexcept
    {
        limbs_[0] = static_cast<std::uint32_t>(value);
        limbs_[1] = static_cast<std::uint32_t>(value >> 32);
        size_ = limbs_[1] != 0 ? 2 : limbs_[0] != 0 ? 1 : 0;
    }

    bool is_zero() const noexcept { return size_ == 0; }

    void multiply(std::uint32_t factor) noexcept
    {
        std::uint64_t carry = 0;
        for (int i = 0; i < size_; ++i) {
            const std::uint64_t product = std::uint64_t{limbs_[i]} * factor + carry;
            limbs_[i] = static_cast<std::uint32_t>(product);
            carry = product >> 32;
        }
        if (carry != 0) limbs_[size_++] = static_cast<std::uint32_t>(carry);
    }

    void shift_left(int bits) noexcept
    {
        if (is_zero() || bits == 0) return;
        const int limb_shift = bits / 32;
        const int bit_shift = bits % 32;
        limbs_[size_] = 0;
        for (int i = size_; i >= 0; --i) {
            std::uint32_t limb = limbs_[i] << bit_shift;
            if (bit_shift != 0 && i > 0) limb |= limbs_[i - 1] >> (32 - bit_shift);
            limbs_[i + limb_shift] = limb;
        }
        for (int i = 0; i < limb_shift; ++i) limbs_[i] = 0;
        size_ += limb_shift + 1;
        trim();
    }

    // Divides by 2^bits and rounds to the nearest integer, an exact half to
    // the even one (the rounding of printf's conversions on IEEE machines).
    void shift_right_rounding(int bits) noexcept
    {
        if (bits == 0) return;
        if (bits > 32 * size_) {  // the value lies below half of 2^bits
            size_ = 0;
            return;
        }
        const bool half = bit(bits - 1);
        bool below_half = false;
        for (int i = 0; i < bits - 1 && !below_half; ++i) below_half = bit(i);

        const int limb_shift = bits / 32;
        const int bit_shift = bits % 32;
        for (int i = 0; i + limb_shift < size_; ++i) {
            std::uint32_t limb = limbs_[i + limb_shift] >> bit_shift;
            if (bit_shift != 0 && i + limb_shift + 1 < size_) limb |= limbs_[i + limb_shift + 1] << (32 - bit_shift);
            limbs_[i] = limb;
        }
        size_ -= limb_shift;
        trim();

        if (half && (below_half || bit(0))) add_one();
    }

    // Divides by 10^9 and returns the remainder.
    std::uint32_t divide_by_billion() noexcept
    {
        constexpr std::uint64_t billion = 1000000000;
        std::uint64_t remainder = 0;
        for (int i = size_ - 1; i >= 0; --i) {
            const std::uint64_t part = (remainder << 32) | limbs_[i];
            limbs_[i] = static_cast<std::uint32_t>(part / billion);
            remainder = part % billion;
        }
        trim();
        return static_cast<std::uint32_t>(remainder);
    }

private:
    static constexpr int max_limbs = 36;

    bool bit(int index) const noexcept
    {
        return index / 32 < size_ && ((limbs_[index / 32] >> (index % 32)) & 1u) != 0;
    }

    void add_one() noexcept
    {
        for (int i = 0; i < size_; ++i)
            if (++limbs_[i] != 0) return;
        limbs_[size_++] = 1;
    }

    void trim() noexcept
    {
        while (size_ > 0 && limbs_[size_ - 1] == 0) --size_;
    }

    std::uint32_t limbs_[max_limbs + 1] = {};
    int size_ = 0;
};

// printf's "%.Nf", digit for digit as a correct C library
// prints it: the exact binary value rounded to N decimals, an exact half to
// even, a minus sign whenever the sign bit is set ("-0.000"). Not-a-number
// and infinity print as "nan", "-nan", "inf" and "-inf".
template <int decimals>
void put_fixed(text_writer& out, double value) noexcept
{
    static_assert(decimals >= 0 && decimals <= 6, "wide_unsigned holds a double times 10^6 at most");
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int biased_exponent = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);

    if (negative) out.put(u'-');
    if (biased_exponent == 0x7FF) {
        if (fraction != 0)
            out.put_literal("nan");
        else
            out.put_literal("inf");
        return;
    }

    // |value| = significand * 2^exponent; the text shows
    // round(|value| * 10^decimals) = round(significand * 5^decimals * 2^(exponent + decimals)).
    const std::uint64_t significand = biased_exponent == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
    const int exponent = (biased_exponent == 0 ? 1 : biased_exponent) - 1075;
    wide_unsigned scaled(significand);
    for (int i = 0; i < decimals; ++i) scaled.multiply(5);
    const int shift = exponent + decimals;
    if (shift >= 0)
        scaled.shift_left(shift);
    else
        scaled.shift_right_rounding(-shift);

    // At most 309 integer digits and 6 decimals: 315 digits, written
    // backwards in groups of nine, then zeros up to "0." and the decimals.
    char digits[324];
    char* const end = digits + sizeof digits;
    char* first = end;
    while (!scaled.is_zero()) {
        std::uint32_t group = scaled.divide_by_billion();
        if (scaled.is_zero()) {
            first = write_digits_backwards(group, first);
        } else {
            for (int i = 0; i < 9; ++i, group /= 10) *--first = static_cast<char>('0' + group % 10);
        }
    }
    while (end - first < decimals + 1) *--first = '0';

    const char* const point = end - decimals;
    out.put_bytes(first, static_cast<std::size_t>(point - first));
    if (decimals > 0) {
        out.put(u'.');
        out.put_bytes(point, static_cast<std::size_t>(decimals));
    }
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
    put_unsigned(out, message_count);
    out.put_literal("  dt=");
    put_fixed<6>(out, time_step);
    out.put_literal("  counter=");
    put_unsigned(out, counter);
    return text;
}

display_text format_line_number(std::uint32_t line) noexcept
{
    display_text text;
    text_writer out(text);
    put_unsigned(out, line, 3);
    out.put(u':');
    return text;
}

display_text format_value(const tm_external_message& message) noexcept
{
    display_text text;
    text_writer out(text);
    switch (message.GetDataType()) {
    case tm_msg_data_type::None:
        out.put_literal("void");
        break;
    case tm_msg_data_type::Int:
        out.put_literal("v=");
        put_signed(out, message.GetInt());
        break;
    case tm_msg_data_type::Double:
        put_scalar(out, message.GetDouble());
        break;
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
    put_unsigned(out, message.GetFlags().GetValue());
    return text;
}
