// Helpers of the display text tests: records made from values, and texts
// shown as UTF-8 so that failures print readably.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include <skarvel/shared/input/tm_external_message.h>

#include "display/display_text.h"

namespace display_testing {

// The units of a text as UTF-8, or a marker when the text breaks its own
// rules (longer than 254 units, or not ended by a zero unit).
inline std::string shown(const display_text& text)
{
    if (text.length > display_text::max_length) return "<length over 254>";
    if (text.units[text.length] != 0) return "<not zero-terminated>";
    std::string utf8;
    for (std::uint32_t i = 0; i < text.length; ++i) {
        const char16_t unit = text.units[i];
        if (unit < 0x80) {
            utf8 += static_cast<char>(unit);
        } else if (unit < 0x800) {
            utf8 += static_cast<char>(0xC0 | (unit >> 6));
            utf8 += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            utf8 += static_cast<char>(0xE0 | (unit >> 12));
            utf8 += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return utf8;
}

inline tm_external_message record_of_type(std::uint8_t data_type, std::uint64_t flags = 0)
{
    tm_external_message message;
    message.Header.DataType = static_cast<tm_msg_data_type>(data_type);
    message.Header.Flags = flags;
    return message;
}

// A record of the given type whose value area starts with these values,
// laid out as the host lays them (little-endian, as this machine).
template <class T, std::size_t N>
tm_external_message record_with(tm_msg_data_type data_type, const T (&values)[N])
{
    static_assert(sizeof values <= tm_external_message::data_size);
    tm_external_message message;
    message.Header.DataType = data_type;
    std::memcpy(message.Data, values, sizeof values);
    return message;
}

inline tm_external_message double_record(double value)
{
    const double values[] = {value};
    return record_with(tm_msg_data_type::Double, values);
}

// Doubles for the wide-coverage checks, the same on every machine: half of
// them arbitrary bit patterns (every exponent, NaN, infinity and subnormals
// among them), half multiples of 1/16384 around zero, where exact halves of
// the third and sixth decimal lie.
class double_sequence {
public:
    double next() noexcept
    {
        // xorshift64
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        ++count_;
        if (count_ % 2 == 0) {
            double value;
            std::memcpy(&value, &state_, sizeof value);
            return value;
        }
        const std::int64_t steps = static_cast<std::int64_t>(state_ >> 32) - (std::int64_t{1} << 31);
        return static_cast<double>(steps % 100000000) / 16384.0;
    }

private:
    std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
    std::uint64_t count_ = 0;
};

}  // namespace display_testing
