// Whether a standard stream is an interactive terminal, for live status
// lines that would only clutter a log file or a pipe; and a Windows console
// that shows the tools' UTF-8 as it is.
#pragma once

#include <cstdio>

namespace tools {

bool is_terminal(std::FILE* stream) noexcept;

// The tools print their text, paths included, in UTF-8. A Windows console
// shows bytes in its own code page: for the program's run this sets it to
// UTF-8, and puts the one it had back at the end. Elsewhere, and when no
// console is attached, it does nothing.
class utf8_console {
public:
    utf8_console() noexcept;
    ~utf8_console();  // NOLINT(performance-trivially-destructible): on Windows it puts the code page back
    utf8_console(const utf8_console&) = delete;
    utf8_console& operator=(const utf8_console&) = delete;

private:
    unsigned previous_ = 0;  // the code page to put back, 0 for none
};

}  // namespace tools
