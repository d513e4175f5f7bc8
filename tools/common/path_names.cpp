#include "tools/common/path_names.h"

#include <array>
#include <cctype>

namespace tools {
namespace {

bool is_separator(char c) noexcept
{
    return c == '\\' || c == '/';
}

bool same_letters(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The device a last name stands for, as "NUL (the null device)", or empty.
// Windows compares the name up to its first dot or colon, spaces at its end
// dropped: "nul.dll", "NUL .txt" and "com1:" are devices too.
std::string device_named(std::string_view name)
{
    name = name.substr(0, name.find_first_of(".:"));
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> fixed = {{
        {"NUL", "the null device"},
        {"CON", "the console"},
        {"CONIN$", "the console's input"},
        {"CONOUT$", "the console's output"},
        {"PRN", "the printer"},
        {"AUX", "the auxiliary device"},
    }};
    for (const auto& [device, meaning] : fixed)
        if (same_letters(name, device)) return std::string(device) + " (" + std::string(meaning) + ")";
    // COM1 to COM9 and LPT1 to LPT9; Windows counts the superscript digits
    // ¹ ² ³ (UTF-8 C2 B9, C2 B2, C2 B3) among them too.
    if (name.size() < 4) return {};
    const std::string_view kind = name.substr(0, 3);
    const bool serial = same_letters(kind, "COM");
    if (!serial && !same_letters(kind, "LPT")) return {};
    const std::string_view number = name.substr(3);
    const bool digit = number.size() == 1 && number[0] >= '1' && number[0] <= '9';
    const bool superscript = number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
    if (!digit && !superscript) return {};
    return (serial ? "COM" : "LPT") + std::string(number) + (serial ? " (a serial port)" : " (a parallel port)");
}

}  // namespace

std::string altered_name_problem(std::string_view path)
{
    if (path.substr(0, 4) == "\\\\?\\") return {};  // taken literally
    if (path.substr(0, 4) == "\\\\.\\" || path.substr(0, 4) == "//./")
        return "a device path, which Windows opens as a device, not as a file";
    // Each name in the path: dots and spaces at its end go, except in the
    // names "." and "..".
    std::string altered;
    std::string_view first_altered;
    std::string_view last;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = start;
        while (end < path.size() && !is_separator(path[end])) ++end;
        std::string_view name = path.substr(start, end - start);
        last = name;
        if (name != "." && name != "..") {
            std::size_t kept = name.size();
            while (kept > 0 && (name[kept - 1] == '.' || name[kept - 1] == ' ')) --kept;
            if (kept < name.size() && first_altered.empty()) first_altered = name;
            name = name.substr(0, kept);
        }
        altered += name;
        if (end < path.size()) altered += path[end];
        start = end + 1;
    }
    if (!first_altered.empty()) {
        const std::string_view tail = first_altered.substr(first_altered.find_last_not_of(". ") + 1);
        const bool dots = tail.find('.') != std::string_view::npos;
        const bool spaces = tail.find(' ') != std::string_view::npos;
        const std::string what = dots && spaces    ? "the dots and spaces"
                                 : tail.size() > 1 ? (dots ? "the dots" : "the spaces")
                                                   : (dots ? "the dot" : "the space");
        return "Windows drops " + what + " at the end of \"" + std::string(first_altered) + "\" and would use \"" +
               altered + "\" instead";
    }
    const std::string device = device_named(last);
    if (!device.empty())
        return "Windows takes this name, whatever its extension, for the device " + device + ", not for a file";
    // A name longer than Windows' file systems take: refused by the system
    // in words that vary (under Wine, "File not found").
    for (std::size_t start = 0; start < path.size();) {
        std::size_t end = start;
        std::size_t units = 0;  // UTF-16 units, as Windows counts
        for (; end < path.size() && !is_separator(path[end]); ++end) {
            const auto byte = static_cast<unsigned char>(path[end]);
            if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
        }
        if (units > longest_file_name)
            return "a name in it is " + std::to_string(units) +
                   " characters long, and Windows takes names of at most " + std::to_string(longest_file_name);
        start = end + 1;
    }
    return {};
}

bool check_path_names(const std::vector<named_path>& paths, std::string& error)
{
#if defined(_WIN32)
    for (const named_path& named : paths) {
        const std::string problem = named.path.empty() ? std::string() : altered_name_problem(named.path);
        if (!problem.empty()) {
            error = named.what + " \"" + named.path + "\": " + problem;
            return false;
        }
    }
#else
    (void)paths;
    (void)error;
#endif
    return true;
}

}  // namespace tools
