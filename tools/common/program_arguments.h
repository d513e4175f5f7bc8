// A program's command line as UTF-8, whatever the system. On Windows the
// C runtime's argv holds the arguments in the ANSI code page, where a name
// beyond it is lost ("??.dll"): there they are read again from the wide
// command line. Elsewhere argv is taken as it is.
#pragma once

#include <string>
#include <vector>

namespace tools {

class program_arguments {
public:
    program_arguments(int argc, char** argv);
    program_arguments(const program_arguments&) = delete;
    program_arguments& operator=(const program_arguments&) = delete;

    // The arguments after the program's name, as read_arguments takes them.
    int count() const noexcept { return static_cast<int>(pointers_.size()); }
    const char* const* values() const noexcept { return pointers_.data(); }

private:
    std::vector<std::string> arguments_;
    std::vector<const char*> pointers_;
};

}  // namespace tools
