// File identity and replacement on Windows, through the wide interface: any
// name, and paths beyond MAX_PATH in their \\?\ form.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>

#include "tools/common/file_system.h"
#include "tools/common/system_error.h"
#include "tools/common/win32/wide_text.h"

namespace tools {

namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens `path` (none when it cannot be converted: out of memory).
HANDLE open_file(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) noexcept
{
    try {
        return CreateFileW(windows_path(path).c_str(), access, share, nullptr, disposition, flags, nullptr);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

}  // namespace

std::optional<file_identity> identify_file(const std::string& path) noexcept
{
    // No access asked, only the file's information; a folder opens too.
    const HANDLE file = open_file(path, 0, share_all, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
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
    const HANDLE file = open_file(path, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    CloseHandle(file);
    return 0;
}

bool is_exists_error(int code) noexcept
{
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
}

file_kind kind_of_file(const std::string& path) noexcept
{
    const HANDLE file = open_file(path, 0, share_all, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (file == INVALID_HANDLE_VALUE) return file_kind::none;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool folder =
        GetFileInformationByHandle(file, &information) && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    const bool disk_file = GetFileType(file) == FILE_TYPE_DISK;
    CloseHandle(file);
    return folder ? file_kind::folder : disk_file ? file_kind::regular : file_kind::other;
}

int probe_writing(const std::string& path) noexcept
{
    HANDLE file = open_file(path, GENERIC_WRITE, share_all, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    const bool disk_file = GetFileType(file) == FILE_TYPE_DISK;
    CloseHandle(file);
    if (!disk_file) return 0;
    // A file on disk is replaced by a rename over it, which needs the right
    // to delete it, and no other program holding it open without sharing
    // that.
    file = open_file(path, GENERIC_WRITE | DELETE, share_all, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    CloseHandle(file);
    return 0;
}

bool replace_file(const std::string& from, const std::string& to, std::string& error)
{
    if (MoveFileExW(windows_path(from).c_str(), windows_path(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = system_error_text(static_cast<int>(GetLastError()));
    return false;
}

void remove_file(const std::string& path) noexcept
{
    try {
        DeleteFileW(windows_path(path).c_str());
    } catch (...) {
        // out of memory for the path: the file stays
    }
}

std::filesystem::path file_path(const std::string& path)
{
    return std::filesystem::path(windows_path(path));
}

std::FILE* open_for_writing(const std::string& path, int& error) noexcept
{
    // As the C runtime's fopen(path, "w") opens, but with the system's own
    // error code when it fails.
    const HANDLE file =
        open_file(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(GetLastError());
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_TEXT);
    std::FILE* stream = descriptor < 0 ? nullptr : _fdopen(descriptor, "w");
    if (stream == nullptr) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        if (descriptor < 0)
            CloseHandle(file);
        else
            _close(descriptor);
        return nullptr;
    }
    error = 0;
    return stream;
}

// A named pipe that no server has made is not there at all (ERROR_FILE_NOT_FOUND).
bool is_unread_pipe_error(int) noexcept
{
    return false;
}

std::string absolute_path(const std::string& path)
{
    std::wstring given = wide_text(path);
    std::replace(given.begin(), given.end(), L'/', L'\\');
    DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    if (size > 0) size = GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
    if (size == 0 || size >= full.size()) return utf8_text(given);
    full.resize(size);
    return utf8_text(full);
}

namespace {

bool remove_tree(const std::wstring& folder)
{
    bool removed = true;
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            const bool directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (!link) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // read-only files too
            if (directory && !link)
                removed = remove_tree(path) && removed;
            else if (directory)
                removed = RemoveDirectoryW(path.c_str()) && removed;
            else
                removed = DeleteFileW(path.c_str()) && removed;
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    return RemoveDirectoryW(folder.c_str()) && removed;
}

}  // namespace

bool remove_folder_tree(const std::string& folder) noexcept
{
    // By hand: the standard library's remove_all may follow a junction on
    // Windows, and remove what it leads to.
    try {
        return remove_tree(windows_path(folder));
    } catch (...) {
        return false;  // out of memory for a path
    }
}

}  // namespace tools
