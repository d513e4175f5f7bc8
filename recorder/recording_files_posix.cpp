// The recorder's files on POSIX, for its tests and benchmarks.
#include "recorder/recording_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "tools/common/system_error.h"

namespace recorder {

recording_file::created recording_file::create_new(const std::string& path, std::string& error)
{
    close();
    descriptor_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (descriptor_ < 0) {
        if (errno == EEXIST) return created::exists;
        error = path + " cannot be created: " + tools::system_error_text(errno);
        return created::failed;
    }
    path_ = path;
    return created::yes;
}

bool recording_file::write(const std::uint8_t* bytes, std::size_t length, std::string& error) noexcept
{
    while (length > 0) {
        const ssize_t written = ::write(descriptor_, bytes, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            try {
                error = tools::system_error_text(written < 0 ? errno : ENOSPC);
            } catch (...) {
            }
            return false;
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

bool recording_file::truncate(std::uint64_t size) noexcept
{
    return ::ftruncate(descriptor_, static_cast<off_t>(size)) == 0 &&
           ::lseek(descriptor_, static_cast<off_t>(size), SEEK_SET) >= 0;
}

std::optional<std::uint64_t> recording_file::free_space() const noexcept
{
    struct statvfs disk;
    if (::fstatvfs(descriptor_, &disk) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
}

void recording_file::close() noexcept
{
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
}

bool recording_file::is_open() const noexcept
{
    return descriptor_ >= 0;
}

bool make_folders(const std::string& folder, std::string& error)
{
    for (std::size_t end = 1; end <= folder.size(); ++end) {
        if (end < folder.size() && folder[end] != '/') continue;
        const std::string part = folder.substr(0, end);
        if (::mkdir(part.c_str(), 0755) == 0 || errno == EEXIST) continue;
        error = "the folder " + part + " cannot be made: " + tools::system_error_text(errno);
        return false;
    }
    struct stat status;
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        error = folder + " is not a folder";
        return false;
    }
    return true;
}

void remove_file(const std::string& path) noexcept
{
    ::unlink(path.c_str());
}

bool append_line(const std::string& path, const std::string& line) noexcept
{
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) return false;
    const bool written = std::fprintf(file, "%s\n", line.c_str()) >= 0;
    return std::fclose(file) == 0 && written;
}

std::optional<std::string> recordings_folder(std::string& error)
{
    if (const char* chosen = std::getenv("SKARVEL_RECORDER_FOLDER"); chosen != nullptr && *chosen != '\0')
        return std::string(chosen);
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/')
        return std::string(data) + "/skarvel/recordings";
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/')
        return std::string(home) + "/.local/share/skarvel/recordings";
    error = "no folder for recordings: neither SKARVEL_RECORDER_FOLDER nor HOME is set";
    return std::nullopt;
}

void debug_note(const std::string&) noexcept {}

local_time local_time_now() noexcept
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
}

}  // namespace recorder
