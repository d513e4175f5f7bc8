// The one reader of the tools' command lines. Each tool lists its options,
// what each one's value must be and how it takes it; the reader walks the
// arguments and words every mistake alike:
//     --rate needs a value
//     --rate wants frames per second from 0.01 to 10000, not "0"
//     unknown option --bogus
// The tool's own checks of the options together come after it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

struct command_option {
    std::string_view name;  // "--rate"
    // What the value must be, as the refusal says it ("frames per second
    // from 0.01 to 10000"); empty for an option that takes no value.
    std::string_view wants;
    // Takes the value (empty for an option without one); false refuses it.
    std::function<bool(std::string_view value)> take;
};

// Reads the arguments after the program name. An option's value is the next
// argument, and never an empty one: an empty variable in a script must not
// quietly mean "none" or "all". Any other argument that starts with '-' is an
// unknown option; every other one is an operand, handed to `operand`, which
// refuses it by returning false with its own sentence in `error`. After "--"
// every argument is an operand, so that a name starting with '-' (a plug-in
// called -lead.dll) passes whole.
bool read_arguments(int argc, const char* const* argv, const std::vector<command_option>& options,
                    const std::function<bool(std::string_view operand, std::string& error)>& operand,
                    std::string& error);

// Stores a parsed value where it goes; false when there is none.
template <typename T>
bool store(const std::optional<T>& parsed, T& to)
{
    if (!parsed) return false;
    to = *parsed;
    return true;
}

}  // namespace tools
