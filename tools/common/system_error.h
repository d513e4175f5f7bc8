// The system's own words for a failure, with its number, so that an error
// says why: "No such file or directory (system error 2)".
#pragma once

#include <string>

namespace tools {

// The text of a system error code: errno on POSIX; a GetLastError or
// WSAGetLastError code on Windows.
std::string system_error_text(int code);

// The reason of the C runtime call that failed last (a write through a
// stream, an fopen), said by the system that gave it. On POSIX systems errno
// is the system's own code, said as system_error_text says it. On Windows the
// runtime keeps the system's code it got (_doserrno) beside its own errno:
// that code in the system's words ("There is not enough space on the disk
// (system error 112)"), else the runtime's errno in its own words, numbered
// as its own ("... (C runtime error 22)"), never read as a Windows code.
// Empty when no failure is known since clear_runtime_failure().
std::string runtime_failure_text();
void clear_runtime_failure() noexcept;

// The text of a failure of getaddrinfo, from the status it returned.
std::string resolve_error_text(int status);

}  // namespace tools
