#include "tools/validate/source_places.h"

#include <cstdio>
#include <cstdlib>

namespace validate {

namespace {

std::string flat(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return out;
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

// A whole number in decimal, or in hexadecimal after "0x"; nothing else.
std::optional<std::uint64_t> whole_number(std::string_view text)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (hex) text.remove_prefix(2);
    if (text.empty() || text.size() > 16) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return std::nullopt;
        const std::uint64_t base = hex ? 16 : 10;
        if (value > (UINT64_MAX - static_cast<std::uint64_t>(digit)) / base) return std::nullopt;
        value = value * base + static_cast<std::uint64_t>(digit);
    }
    return value;
}

}  // namespace

std::string place_line(const source_place& place)
{
    char offset[24];
    std::snprintf(offset, sizeof offset, "0x%llx", static_cast<unsigned long long>(place.offset));
    return std::string(offset) + '\t' + flat(place.function) + '\t' + flat(place.inlined_in) + '\t' + flat(place.file) +
           '\t' + std::to_string(place.line);
}

std::optional<source_place> parse_place_line(std::string_view line)
{
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::vector<std::string_view> fields = split(line, '\t');
    if (fields.size() != 5 || fields[1].empty()) return std::nullopt;
    const std::optional<std::uint64_t> offset = whole_number(fields[0]);
    const std::optional<std::uint64_t> number = whole_number(fields[4]);
    if (!offset || !number || *number > UINT32_MAX) return std::nullopt;
    source_place place;
    place.offset = *offset;
    place.function = fields[1];
    place.inlined_in = fields[2];
    place.file = fields[3];
    place.line = static_cast<std::uint32_t>(*number);
    return place;
}

std::vector<source_place> parse_place_lines(std::string_view text)
{
    std::vector<source_place> places;
    for (std::string_view line : split(text, '\n'))
        if (std::optional<source_place> place = parse_place_line(line)) places.push_back(std::move(*place));
    return places;
}

}  // namespace validate
