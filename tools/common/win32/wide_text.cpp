#include "tools/common/win32/wide_text.h"

#include <windows.h>

#include <climits>

#include "tools/common/path_names.h"

namespace tools {

std::wstring wide_text(std::string_view utf8)
{
    if (utf8.empty() || utf8.size() > INT_MAX) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), length);
    return text;
}

std::string utf8_text(std::wstring_view wide)
{
    if (wide.empty() || wide.size() > INT_MAX) return {};
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    if (length > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

std::wstring windows_path(const std::string& path)
{
    std::wstring given = wide_text(path);
    // Folders are the shortest limit: a folder's path leaves room for a file
    // name of 8.3 characters.
    constexpr std::size_t usual_limit = MAX_PATH - 12;
    if (given.empty() || given.rfind(L"\\\\?\\", 0) == 0 || given.rfind(L"\\\\.\\", 0) == 0) return given;
    DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (size == 0) return given;
    std::wstring full(size, L'\0');
    size = GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
    if (size == 0 || size >= full.size()) return given;
    full.resize(size);
    if (full.size() < usual_limit || full.rfind(L"\\\\.\\", 0) == 0) return given;
    // A name longer than any file system takes is left to the usual form,
    // whose refusal says so ("The file name is too long"); in the \\?\ form
    // Wine would say it was not found.
    std::size_t name_length = 0;
    for (const wchar_t c : full) {
        name_length = c == L'\\' ? 0 : name_length + 1;
        if (name_length > longest_file_name) return given;
    }
    // A share, \\server\share\..., becomes \\?\UNC\server\share\....
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

}  // namespace tools
