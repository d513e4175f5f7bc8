#include "tools/common/terminal.h"

#if defined(_WIN32)
#include <windows.h>
#include <io.h>
#define tools_isatty _isatty
#define tools_fileno _fileno
#else
#include <unistd.h>
#define tools_isatty isatty
#define tools_fileno fileno
#endif

namespace tools {

bool is_terminal(std::FILE* stream) noexcept
{
    return tools_isatty(tools_fileno(stream)) != 0;
}

#if defined(_WIN32)

utf8_console::utf8_console() noexcept
{
    DWORD mode = 0;
    const bool console =
        GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) || GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode);
    const UINT code_page = GetConsoleOutputCP();
    if (console && code_page != 0 && code_page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) previous_ = code_page;
}

utf8_console::~utf8_console()
{
    if (previous_ != 0) SetConsoleOutputCP(previous_);
}

#else

utf8_console::utf8_console() noexcept = default;
utf8_console::~utf8_console() = default;

#endif

}  // namespace tools
