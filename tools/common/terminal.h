// Whether a standard stream is an interactive terminal, for live status
// lines that would only clutter a log file or a pipe.
#pragma once

#include <cstdio>

namespace tools {

bool is_terminal(std::FILE* stream) noexcept;

}  // namespace tools
