// File identity and replacement on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tools/common/file_system.h"

namespace tools {

std::optional<file_identity> identify_file(const std::string& path) noexcept
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    return file_identity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

bool create_new_file(const std::string& path) noexcept
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool replace_file(const std::string& from, const std::string& to, std::string& error)
{
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    error = std::strerror(errno);
    return false;
}

void remove_file(const std::string& path) noexcept { ::unlink(path.c_str()); }

std::string absolute_path(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

}  // namespace tools
