// The few file operations that the standard library leaves to each system:
// telling whether two names lead to one file, creating a file that must not
// exist yet, asking whether a file may be written, putting one file in the
// place of another in one step, and the absolute form of a path. Failures
// carry the system's error code (system_error.h gives its words).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace tools {

// What makes a file itself, whatever path names it: the device and inode on
// POSIX, the volume serial number and file index on Windows.
struct file_identity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    friend bool operator==(const file_identity& a, const file_identity& b) noexcept
    {
        return a.volume == b.volume && a.index == b.index;
    }
};

// The identity of the file at `path`, or nothing when there is none (or it
// cannot be asked).
std::optional<file_identity> identify_file(const std::string& path) noexcept;

// Creates an empty file at `path`, where nothing may exist yet: 0 when it
// was made, else the system's error code, one that is_exists_error() knows
// when something is there already.
int create_new_file(const std::string& path) noexcept;
bool is_exists_error(int code) noexcept;

// What is at `path`: nothing (or nothing that can be asked), a regular
// file, a folder, or something else (a device, a pipe).
enum class file_kind { none, regular, folder, other };
file_kind kind_of_file(const std::string& path) noexcept;

// Opens the existing file at `path` for writing, changing nothing, and
// closes it: 0 when that worked or the file is no plain file (a device, a
// pipe, which are only written to), else the system's error code. On
// Windows the file must also be one that another may take the place of.
int probe_writing(const std::string& path) noexcept;

// Renames `from` to `to`, replacing a file at `to` in one step. False with
// the system's reason in `error`.
bool replace_file(const std::string& from, const std::string& to, std::string& error);

// `path` as the standard library's streams take it: on Windows in UTF-16,
// in the \\?\ form when it is long (std::ofstream(file_path(p)) opens any
// name); elsewhere as it is.
std::filesystem::path file_path(const std::string& path);

// Opens `path` to be written from its start, as fopen(path, "w") does, or
// nothing with the system's error code in `error`. On POSIX systems the
// open does not wait: a pipe that no program reads is refused (ENXIO) at
// once instead of blocking until one does.
std::FILE* open_for_writing(const std::string& path, int& error) noexcept;
// Whether open_for_writing's `error` says that `path` is a pipe no program
// reads.
bool is_unread_pipe_error(int code) noexcept;

// `path` made absolute, with the system's own separators; `path` itself when
// that cannot be done.
std::string absolute_path(const std::string& path);

// Removes the folder and everything in it; links inside it (symbolic links,
// junctions) are removed, never followed. False when something could not be
// removed.
bool remove_folder_tree(const std::string& folder) noexcept;

// Removes the file at `path`, quietly.
void remove_file(const std::string& path) noexcept;

}  // namespace tools
