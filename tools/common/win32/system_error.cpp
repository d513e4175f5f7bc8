// The system's words for errors on Windows, from its message tables.
#include <windows.h>

#include "tools/common/system_error.h"

namespace tools {

std::string system_error_text(int code)
{
    char words[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), words,
                                  sizeof words, nullptr);
    // One line: the message's closing full stop and line end go.
    while (length > 0 && (words[length - 1] == '\r' || words[length - 1] == '\n' || words[length - 1] == ' ' ||
                          words[length - 1] == '.'))
        --length;
    const std::string number = "system error " + std::to_string(code);
    if (length == 0) return number;
    // Inserts are not filled in: name the file in general terms instead.
    std::string text(words, length);
    for (std::size_t at = text.find("%1"); at != std::string::npos; at = text.find("%1")) text.replace(at, 2, "the file");
    return text + " (" + number + ")";
}

// getaddrinfo answers with a Windows Sockets error code.
std::string resolve_error_text(int status) { return system_error_text(status); }

}  // namespace tools
