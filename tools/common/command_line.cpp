#include "tools/common/command_line.h"

#include <charconv>
#include <cmath>

namespace tools {
namespace {

bool is_digit(char c) noexcept
{
    return c >= '0' && c <= '9';
}

// Digits, an optional fraction, an optional exponent: the decimal forms only.
bool is_decimal_text(std::string_view text) noexcept
{
    std::size_t i = 0, digits = 0;
    while (i < text.size() && is_digit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && is_digit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        const std::size_t exponent_start = i;
        while (i < text.size() && is_digit(text[i])) ++i;
        if (i == exponent_start) return false;
    }
    return i == text.size();
}

}  // namespace

std::optional<std::uint64_t> parse_unsigned(std::string_view text, std::uint64_t min, std::uint64_t max) noexcept
{
    if (text.empty() || text.size() > 20) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (!is_digit(c)) return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    if (value < min || value > max) return std::nullopt;
    return value;
}

std::optional<double> parse_decimal(std::string_view text, double min, double max) noexcept
{
    if (text.size() > 40 || !is_decimal_text(text)) return std::nullopt;
    double value = 0.0;
    const std::from_chars_result r = std::from_chars(text.data(), text.data() + text.size(), value);
    // An exponent beyond a double's range is out of range, not infinite.
    if (r.ec != std::errc{} || r.ptr != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    if (value < min || value > max) return std::nullopt;
    return value;
}

std::optional<double> parse_duration(std::string_view text, double max_seconds, bool zero_allowed) noexcept
{
    double scale = 1.0;
    if (text.size() > 2 && text.substr(text.size() - 2) == "ms") {
        scale = 0.001;
        text.remove_suffix(2);
    } else if (!text.empty() && text.back() == 's') {
        text.remove_suffix(1);
    } else if (!text.empty() && text.back() == 'm') {
        scale = 60.0;
        text.remove_suffix(1);
    }
    const std::optional<double> value = parse_decimal(text, 0.0, max_seconds / scale);
    if (!value || (*value == 0.0 && !zero_allowed)) return std::nullopt;
    return *value * scale;
}

std::optional<host_port> parse_host_port(std::string_view text)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    const std::optional<std::uint64_t> port = parse_unsigned(text.substr(colon + 1), 1, 65535);
    if (!port) return std::nullopt;
    return host_port{std::string(text.substr(0, colon)), static_cast<std::uint16_t>(*port)};
}

}  // namespace tools
