// Where in its source a place in the plug-in's code is: the function, the
// file and the line that its debug information gives, if it carries any. The
// validator looks them up in a process of its own, which prints one line per
// place; these are that line's writing and reading.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace validate {

struct source_place {
    std::uint64_t offset = 0;  // into the DLL: an address less the DLL's base
    std::string function;  // "read_frame"; the innermost, when the compiler inlined it
    std::string inlined_in;  // the functions it was inlined into, out to the one compiled: "b, in c"; empty when none
    std::string file;  // as the debug information names it; empty when unknown
    std::uint32_t line = 0;  // 0 when unknown
};

// "0x1a2b\tfunction\tinlined_in\tfile\tline": tabs and line breaks inside
// the texts become spaces.
std::string place_line(const source_place& place);
// The place of one such line; nothing for a line that is not one, or that
// names no function.
std::optional<source_place> parse_place_line(std::string_view line);
// Every place in the lines of `text`.
std::vector<source_place> parse_place_lines(std::string_view text);

}  // namespace validate
