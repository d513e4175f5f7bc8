// The recorder's files on Windows: wide-character calls throughout, so that
// a user's folder of any name works; the recording is shared for reading
// while it is written (a copy or a replay of it meanwhile).
#include <windows.h>

#include "recorder/recording_files.h"
#include "tools/common/system_error.h"

namespace recorder {
namespace {

std::wstring widen(const std::string& text)
{
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string narrow(const wchar_t* text, std::size_t size)
{
    if (size == 0) return std::string();
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), utf8.data(), length, nullptr, nullptr);
    return utf8;
}

// An environment variable's value; empty when it is not set.
std::wstring environment(const wchar_t* name)
{
    std::wstring value(64, L'\0');
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) return std::wstring();
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);
    }
}

bool is_separator(char c)
{
    return c == '\\' || c == '/';
}

}  // namespace

recording_file::created recording_file::create_new(const std::string& path, std::string& error)
{
    close();
    handle_ = CreateFileW(widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        handle_ = nullptr;
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return created::exists;
        error = path + " cannot be created: " + tools::system_error_text(static_cast<int>(code));
        return created::failed;
    }
    path_ = path;
    return created::yes;
}

bool recording_file::write(const std::uint8_t* bytes, std::size_t length, std::string& error) noexcept
{
    while (length > 0) {
        const DWORD chunk = length < (1u << 30) ? static_cast<DWORD>(length) : (1u << 30);
        DWORD written = 0;
        if (!WriteFile(handle_, bytes, chunk, &written, nullptr) || written == 0) {
            const DWORD code = GetLastError();
            try {
                error = tools::system_error_text(static_cast<int>(code != 0 ? code : ERROR_DISK_FULL));
            } catch (...) {
            }
            return false;
        }
        bytes += written;
        length -= written;
    }
    return true;
}

bool recording_file::truncate(std::uint64_t size) noexcept
{
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN) && SetEndOfFile(handle_);
}

std::optional<std::uint64_t> recording_file::free_space() const noexcept
{
    try {
        std::string folder = path_;
        while (!folder.empty() && !is_separator(folder.back())) folder.pop_back();
        ULARGE_INTEGER available;
        if (folder.empty() || !GetDiskFreeSpaceExW(widen(folder).c_str(), &available, nullptr, nullptr))
            return std::nullopt;
        return available.QuadPart;
    } catch (...) {
        return std::nullopt;
    }
}

void recording_file::close() noexcept
{
    if (handle_ != nullptr) CloseHandle(handle_);
    handle_ = nullptr;
}

bool recording_file::is_open() const noexcept
{
    return handle_ != nullptr;
}

bool make_folders(const std::string& folder, std::string& error)
{
    // Each folder on the way, from the top; those above the user's reach
    // (a drive, a share) refuse and are there already.
    DWORD last_failure = 0;
    for (std::size_t end = 1; end <= folder.size(); ++end) {
        if (end < folder.size() && !is_separator(folder[end])) continue;
        const std::string part = folder.substr(0, end);
        if (part.back() == ':' || is_separator(part.back())) continue;
        if (CreateDirectoryW(widen(part).c_str(), nullptr)) continue;
        const DWORD code = GetLastError();
        if (code != ERROR_ALREADY_EXISTS) last_failure = code;
    }
    const DWORD attributes = GetFileAttributesW(widen(folder).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        error = folder + " is a file, not a folder";
    } else {
        error = "the folder " + folder + " cannot be made: " +
                tools::system_error_text(static_cast<int>(last_failure != 0 ? last_failure : GetLastError()));
    }
    return false;
}

void remove_file(const std::string& path) noexcept
{
    try {
        DeleteFileW(widen(path).c_str());
    } catch (...) {
    }
}

bool append_line(const std::string& path, const std::string& line) noexcept
{
    try {
        const HANDLE file = CreateFileW(widen(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        const std::string text = line + "\r\n";
        DWORD written = 0;
        const bool ok =
            WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
        return CloseHandle(file) && ok;
    } catch (...) {
        return false;
    }
}

std::optional<std::string> recordings_folder(std::string& error)
{
    const std::wstring chosen = environment(L"SKARVEL_RECORDER_FOLDER");
    if (!chosen.empty()) return narrow(chosen.data(), chosen.size());
    const std::wstring local = environment(L"LOCALAPPDATA");
    if (!local.empty()) return narrow(local.data(), local.size()) + "\\Skarvel\\Recordings";
    error = "no folder for recordings: neither SKARVEL_RECORDER_FOLDER nor LOCALAPPDATA is set";
    return std::nullopt;
}

void debug_note(const std::string& note) noexcept
{
    try {
        OutputDebugStringW(widen(note + "\n").c_str());
    } catch (...) {
    }
}

local_time local_time_now() noexcept
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace recorder
