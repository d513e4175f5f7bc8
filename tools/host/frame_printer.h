// What the host's --print shows: the values of chosen messages, one line per
// frame, columns separated by tabs, so a run can be compared with what a
// plug-in made of it (or read by a spreadsheet, awk or cut).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

// A name --print takes: 1 to 255 printable ASCII characters, no space or
// comma (every message name is one).
bool is_printable_message_name(std::string_view name) noexcept;

class frame_printer {
public:
    // The messages to show, by name, in this order.
    explicit frame_printer(std::vector<std::string> names);

    // "frame", then the names.
    std::string header() const;

    // One frame's line, without its line break: the frame's number, then each
    // chosen message's value as the first message of that name in the frame
    // carries it, or "-" when the frame has none. By data type: "void", a
    // whole number, a number in the fewest digits that read back as the same
    // double, vectors as their components separated by spaces, strings as
    // their text in UTF-8 (control characters as "?"), "type N" for a data
    // type the model does not know. Reads only the `length` bytes of the
    // stream; a message that would go past them ends the frame.
    void format(std::uint64_t frame, const std::uint8_t* stream, std::size_t length, std::uint32_t count,
                std::string& line);

    // The names no frame held so far.
    std::vector<std::string> never_seen() const;

private:
    std::vector<std::string> names_;
    std::vector<std::uint64_t> ids_;
    std::vector<bool> seen_;
    std::vector<bool> found_;  // in the frame being formatted
    std::vector<std::string> values_;
};

}  // namespace tools
