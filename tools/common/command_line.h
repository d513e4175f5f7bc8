// Parsing of the tools' option values. Each parser takes the whole text or
// fails; none throws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tools {

// A decimal whole number from `min` to `max`.
std::optional<std::uint64_t> parse_unsigned(std::string_view text, std::uint64_t min, std::uint64_t max) noexcept;

// A finite decimal number greater than zero.
std::optional<double> parse_positive(std::string_view text) noexcept;

// A duration in seconds: "10", "2.5s", "500ms" or "2m"; greater than zero.
std::optional<double> parse_duration(std::string_view text) noexcept;

// "HOST:PORT" with a non-empty host and a port from 1 to 65535.
struct host_port {
    std::string host;
    std::uint16_t port = 0;
};
std::optional<host_port> parse_host_port(std::string_view text);

}  // namespace tools
