// The system's words for errors on POSIX systems.
#include <netdb.h>

#include <cerrno>
#include <cstring>

#include "tools/common/system_error.h"

namespace tools {

std::string system_error_text(int code)
{
    return std::string(std::strerror(code)) + " (system error " + std::to_string(code) + ")";
}

std::string runtime_failure_text()
{
    return errno != 0 ? system_error_text(errno) : std::string();
}

void clear_runtime_failure() noexcept
{
    errno = 0;
}

std::string resolve_error_text(int status)
{
    if (status == EAI_SYSTEM) return system_error_text(errno);
    return std::string(::gai_strerror(status)) + " (resolver error " + std::to_string(status) + ")";
}

}  // namespace tools
