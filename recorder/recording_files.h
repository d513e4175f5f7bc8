// What the recorder needs of the system's files, alike on Windows
// (win32/recording_files.cpp, wide-character calls) and POSIX
// (recording_files_posix.cpp, for the tests and the benchmarks). Paths are
// UTF-8; failures carry the system's words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace recorder {

// A recording being written: a file made anew, written at its end only.
class recording_file {
public:
    recording_file() = default;
    recording_file(const recording_file&) = delete;
    recording_file& operator=(const recording_file&) = delete;
    ~recording_file() { close(); }

    enum class created { yes, exists, failed };
    // Creates `path`, which must not exist: nothing is ever written over.
    // `exists` when something has that name already; `failed` with the
    // system's reason in `error`.
    created create_new(const std::string& path, std::string& error);

    // Writes all `length` bytes at the file's end; false with the system's
    // reason when they were not all written.
    bool write(const std::uint8_t* bytes, std::size_t length, std::string& error) noexcept;
    // Cuts the file back to its first `size` bytes.
    bool truncate(std::uint64_t size) noexcept;
    // Bytes free on the file's disk for this user; nothing when unknown.
    std::optional<std::uint64_t> free_space() const noexcept;
    void close() noexcept;
    bool is_open() const noexcept;

private:
#if defined(_WIN32)
    void* handle_ = nullptr;  // HANDLE
#else
    int descriptor_ = -1;
#endif
    std::string path_;
};

// Makes `folder` and every folder above it that is missing. False with the
// system's reason in `error` (a file in the way, no permission...).
bool make_folders(const std::string& folder, std::string& error);

// Removes the file, quietly.
void remove_file(const std::string& path) noexcept;

// Adds `line` and a line end to the text file at `path`, made when missing.
bool append_line(const std::string& path, const std::string& line) noexcept;

// The folder recordings go to: the environment variable
// SKARVEL_RECORDER_FOLDER when set, else the user's local application data
// (%LOCALAPPDATA%\Skarvel\Recordings on Windows; $XDG_DATA_HOME or
// ~/.local/share, then skarvel/recordings, elsewhere). Nothing, with the
// reason in `error`, when neither is known.
std::optional<std::string> recordings_folder(std::string& error);

// Says `note` to a debugger: the system's debug output on Windows (a
// debugger's log, DebugView; WINEDEBUG=+debugstr under Wine), nowhere
// elsewhere.
void debug_note(const std::string& note) noexcept;

// The local date and time, to the second.
struct local_time {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};
local_time local_time_now() noexcept;

// The folder separator of the system.
#if defined(_WIN32)
inline constexpr char folder_separator = '\\';
#else
inline constexpr char folder_separator = '/';
#endif

}  // namespace recorder
