// File identity and replacement on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "tools/common/file_system.h"
#include "tools/common/system_error.h"

namespace tools {

std::optional<file_identity> identify_file(const std::string& path) noexcept
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    return file_identity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

int create_new_file(const std::string& path) noexcept
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
}

bool is_exists_error(int code) noexcept { return code == EEXIST; }

bool is_folder(const std::string& path) noexcept
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

int probe_writing(const std::string& path) noexcept
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return errno;
    if (!S_ISREG(status.st_mode)) return 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
}

bool replace_file(const std::string& from, const std::string& to, std::string& error)
{
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    error = system_error_text(errno);
    return false;
}

void remove_file(const std::string& path) noexcept { ::unlink(path.c_str()); }

std::string absolute_path(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

bool remove_folder_tree(const std::string& folder) noexcept
{
    // remove_all removes a symbolic link itself, not what it points to.
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return !ec;
}

}  // namespace tools
