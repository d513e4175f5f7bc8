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

bool is_exists_error(int code) noexcept
{
    return code == EEXIST;
}

file_kind kind_of_file(const std::string& path) noexcept
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return file_kind::none;
    if (S_ISREG(status.st_mode)) return file_kind::regular;
    return S_ISDIR(status.st_mode) ? file_kind::folder : file_kind::other;
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

void remove_file(const std::string& path) noexcept
{
    ::unlink(path.c_str());
}

std::filesystem::path file_path(const std::string& path)
{
    return std::filesystem::path(path);
}

std::FILE* open_for_writing(const std::string& path, int& error) noexcept
{
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        error = errno;
        return nullptr;
    }
    // Opened: from here on a write waits, as writes to a file do.
    const int flags = ::fcntl(descriptor, F_GETFL);
    std::FILE* file =
        flags < 0 || ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) < 0 ? nullptr : ::fdopen(descriptor, "w");
    if (file == nullptr) {
        error = errno;
        ::close(descriptor);
        return nullptr;
    }
    error = 0;
    return file;
}

bool is_unread_pipe_error(int code) noexcept
{
    return code == ENXIO;
}

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
