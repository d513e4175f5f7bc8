// Parsing of the tools' option values. Each parser takes the whole text or
// fails; none throws. Numbers are decimal: never hexadecimal, never "inf" or
// "nan", no sign and no spaces.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tools {

// A decimal whole number from `min` to `max`.
std::optional<std::uint64_t> parse_unsigned(std::string_view text, std::uint64_t min, std::uint64_t max) noexcept;

// A decimal number from `min` to `max`: digits with an optional fraction and
// exponent, such as "60", "0.5", ".25" or "2e3".
std::optional<double> parse_decimal(std::string_view text, double min, double max) noexcept;

// The range of the rates the tools take (the host's --rate, the listener's
// --relay-rate): a period from 100 s down to 0.1 ms.
inline constexpr double lowest_rate = 0.01;
inline constexpr double highest_rate = 10000.0;

// The longest time any option takes: a year, far from every clock's limit.
inline constexpr double longest_duration = 365.0 * 24.0 * 3600.0;

// A duration in seconds: "10", "2.5s", "500ms" or "2m"; above zero (or zero
// itself when `zero_allowed`) and at most `max_seconds`.
std::optional<double> parse_duration(std::string_view text, double max_seconds = longest_duration,
                                     bool zero_allowed = false) noexcept;

// "HOST:PORT" with a non-empty host and a port from 1 to 65535.
struct host_port {
    std::string host;
    std::uint16_t port = 0;
};
std::optional<host_port> parse_host_port(std::string_view text);

}  // namespace tools
