// Names that Windows does not take as written. Its Win32 layer drops the dots
// and spaces at the end of every name in a path ("x.dll." opens "x.dll"), and
// takes NUL, CON, PRN, AUX, COM1 to COM9 and LPT1 to LPT9, whatever their
// extension ("nul.dll", "COM1.json"), for devices. A tool that opened such a
// name would judge, read or write another file than the one named, or wait on
// a serial port: the Windows tools refuse them, with the reason, before they
// start; and a name longer than 255 characters, which no Windows file system
// takes. A path in the \\?\ form is taken literally by Windows, and passes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

// The longest name (of a file or a folder) Windows' file systems take.
constexpr std::size_t longest_file_name = 255;

// One clause saying what Windows would make of `path` ("Windows drops the dot
// at the end of "x.dll." and would use "x.dll" instead"), or empty when it
// takes the path as written.
std::string altered_name_problem(std::string_view path);

// A path from a command line, with how a refusal names it.
struct named_path {
    std::string what;  // "the plug-in", "--record"
    std::string path;
};

// On Windows, refuses the first path that Windows would alter, with one
// sentence in `error`: `what "path": clause`. Elsewhere, where names are
// taken as written, every path passes. Empty paths are skipped.
bool check_path_names(const std::vector<named_path>& paths, std::string& error);

}  // namespace tools
