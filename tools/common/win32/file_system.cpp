// File identity and replacement on Windows.
#include <windows.h>

#include <algorithm>

#include "tools/common/file_system.h"

namespace tools {

std::optional<file_identity> identify_file(const std::string& path) noexcept
{
    // No access asked, only the file's information; a folder opens too.
    const HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information{};
    const BOOL known = GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    if (!known) return std::nullopt;
    return file_identity{information.dwVolumeSerialNumber,
                         (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

bool create_new_file(const std::string& path) noexcept
{
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

bool replace_file(const std::string& from, const std::string& to, std::string& error)
{
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    error = "system error " + std::to_string(GetLastError());
    return false;
}

void remove_file(const std::string& path) noexcept { DeleteFileA(path.c_str()); }

std::string absolute_path(const std::string& path)
{
    std::string windows_path = path;
    std::replace(windows_path.begin(), windows_path.end(), '/', '\\');
    char buffer[MAX_PATH];
    const DWORD length = GetFullPathNameA(windows_path.c_str(), MAX_PATH, buffer, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(buffer, length) : windows_path;
}

}  // namespace tools
