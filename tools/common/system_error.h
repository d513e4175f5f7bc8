// The system's own words for a failure, with its number, so that an error
// says why: "No such file or directory (system error 2)".
#pragma once

#include <string>

namespace tools {

// The text of a system error code: errno on POSIX; a GetLastError or
// WSAGetLastError code on Windows.
std::string system_error_text(int code);

// The text of a failure of getaddrinfo, from the status it returned.
std::string resolve_error_text(int status);

}  // namespace tools
