#include "tools/validate/win32/scratch_folder.h"

#include <windows.h>

#include "tools/common/win32/plugin_library.h"

namespace validate {

scratch_folder::~scratch_folder()
{
    if (!run_folder_.empty()) RemoveDirectoryA(run_folder_.c_str());
}

std::string scratch_folder::make(const std::string& check, std::string& error)
{
    if (run_folder_.empty()) {
        char temporary[MAX_PATH];
        const DWORD length = GetTempPathA(MAX_PATH, temporary);
        if (length == 0 || length >= MAX_PATH) {
            error = "no temporary folder: " + tools::system_error_text(GetLastError());
            return {};
        }
        // The first free name: another run may be going on beside this one.
        for (int n = 0; n < 1000 && run_folder_.empty(); ++n) {
            const std::string folder = std::string(temporary) + "validate-" + std::to_string(GetCurrentProcessId()) +
                                       (n == 0 ? "" : "-" + std::to_string(n));
            if (CreateDirectoryA(folder.c_str(), nullptr))
                run_folder_ = folder;
            else if (GetLastError() != ERROR_ALREADY_EXISTS)
                break;
        }
        if (run_folder_.empty()) {
            error = "cannot make a working folder in " + std::string(temporary) + ": " +
                    tools::system_error_text(GetLastError());
            return {};
        }
    }
    const std::string folder = run_folder_ + "\\" + check;
    if (!CreateDirectoryA(folder.c_str(), nullptr)) {
        error = "cannot make the working folder " + folder + ": " + tools::system_error_text(GetLastError());
        return {};
    }
    return folder;
}

bool folder_has_files(const std::string& folder)
{
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    do {
        const std::string name = entry.cFileName;
        found = name != "." && name != "..";
    } while (!found && FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

bool remove_folder_tree(const std::string& folder)
{
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
}

}  // namespace validate
