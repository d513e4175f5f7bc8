// The system's words for errors on Windows, from its message tables.
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/common/system_error.h"
#include "tools/common/win32/wide_text.h"

namespace tools {

std::string system_error_text(int code)
{
    // In UTF-16, as the system's words may be in any language.
    wchar_t words[512];
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code),
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), words, sizeof words / sizeof words[0], nullptr);
    // One line: the message's closing full stop and line end go.
    while (length > 0 && (words[length - 1] == L'\r' || words[length - 1] == L'\n' || words[length - 1] == L' ' ||
                          words[length - 1] == L'.'))
        --length;
    std::string number = "system error " + std::to_string(code);
    if (length == 0) return number;
    // Inserts are not filled in: name the file in general terms instead.
    std::string text = utf8_text(std::wstring_view(words, length));
    for (std::size_t at = text.find("%1"); at != std::string::npos; at = text.find("%1"))
        text.replace(at, 2, "the file");
    return text + " (" + number + ")";
}

std::string runtime_failure_text()
{
    const int runtime_code = errno;
    const unsigned long system_code = _doserrno;
    if (system_code != 0) return system_error_text(static_cast<int>(system_code));
    if (runtime_code == 0) return {};
    return std::string(std::strerror(runtime_code)) + " (C runtime error " + std::to_string(runtime_code) + ")";
}

void clear_runtime_failure() noexcept
{
    errno = 0;
    _doserrno = 0;
}

// getaddrinfo answers with a Windows Sockets error code.
std::string resolve_error_text(int status)
{
    return system_error_text(status);
}

}  // namespace tools
