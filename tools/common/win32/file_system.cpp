// File identity and replacement on Windows.
#include <windows.h>

#include <algorithm>

#include "tools/common/file_system.h"
#include "tools/common/system_error.h"

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

int create_new_file(const std::string& path) noexcept
{
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    CloseHandle(file);
    return 0;
}

bool is_exists_error(int code) noexcept { return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS; }

bool is_folder(const std::string& path) noexcept
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int probe_writing(const std::string& path) noexcept
{
    constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    const bool disk_file = GetFileType(file) == FILE_TYPE_DISK;
    CloseHandle(file);
    if (!disk_file) return 0;
    // A file on disk is replaced by a rename over it, which needs the right
    // to delete it, and no other program holding it open without sharing
    // that.
    file = CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    CloseHandle(file);
    return 0;
}

bool replace_file(const std::string& from, const std::string& to, std::string& error)
{
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    error = system_error_text(static_cast<int>(GetLastError()));
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

bool remove_folder_tree(const std::string& folder) noexcept
{
    // By hand: the standard library's remove_all may follow a junction on
    // Windows, and remove what it leads to.
    try {
        bool removed = true;
        WIN32_FIND_DATAA entry;
        const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = entry.cFileName;
                if (name == "." || name == "..") continue;
                const std::string path = folder + "\\" + name;
                const bool directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
                const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
                if (!link) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // read-only files too
                if (directory && !link)
                    removed = remove_folder_tree(path) && removed;
                else if (directory)
                    removed = RemoveDirectoryA(path.c_str()) && removed;
                else
                    removed = DeleteFileA(path.c_str()) && removed;
            } while (FindNextFileA(search, &entry));
            FindClose(search);
        }
        return RemoveDirectoryA(folder.c_str()) && removed;
    } catch (...) {
        return false;  // out of memory for a path
    }
}

}  // namespace tools
