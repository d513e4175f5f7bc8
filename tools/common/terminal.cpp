#include "tools/common/terminal.h"

#if defined(_WIN32)
#include <io.h>
#define tools_isatty _isatty
#define tools_fileno _fileno
#else
#include <unistd.h>
#define tools_isatty isatty
#define tools_fileno fileno
#endif

namespace tools {

bool is_terminal(std::FILE* stream) noexcept { return tools_isatty(tools_fileno(stream)) != 0; }

}  // namespace tools
