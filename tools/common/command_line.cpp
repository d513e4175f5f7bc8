#include "tools/common/command_line.h"

#include <cmath>
#include <cstdlib>

namespace tools {

std::optional<std::uint64_t> parse_unsigned(std::string_view text, std::uint64_t min, std::uint64_t max) noexcept
{
    if (text.empty() || text.size() > 20) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    if (value < min || value > max) return std::nullopt;
    return value;
}

std::optional<double> parse_positive(std::string_view text) noexcept
{
    if (text.empty() || text.size() > 40) return std::nullopt;
    char buffer[48];
    text.copy(buffer, text.size());
    buffer[text.size()] = '\0';
    char* end = nullptr;
    const double value = std::strtod(buffer, &end);
    if (end != buffer + text.size() || !std::isfinite(value) || value <= 0.0) return std::nullopt;
    return value;
}

std::optional<double> parse_duration(std::string_view text) noexcept
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
    const std::optional<double> value = parse_positive(text);
    if (!value) return std::nullopt;
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
