#include "tools/validate/system_dlls.h"

#include <cctype>
#include <string>

namespace validate {

namespace {

std::string lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool starts_with(std::string_view text, std::string_view prefix) noexcept
{
    return text.substr(0, prefix.size()) == prefix;
}

// Windows' own libraries that plug-ins commonly import, as shipped since
// Windows 7 (the Universal C runtime since Windows 10, and as an update before).
constexpr std::string_view system_names[] = {
    "advapi32.dll", "bcrypt.dll",   "comctl32.dll",  "comdlg32.dll",       "crypt32.dll",  "d2d1.dll",
    "d3d11.dll",    "d3d12.dll",    "d3d9.dll",      "d3dcompiler_47.dll", "dbghelp.dll",  "dinput8.dll",
    "dwmapi.dll",   "dwrite.dll",   "dxgi.dll",      "gdi32.dll",          "gdiplus.dll",  "hid.dll",
    "imm32.dll",    "iphlpapi.dll", "kernel32.dll",  "kernelbase.dll",     "msimg32.dll",  "msvcrt.dll",
    "mswsock.dll",  "ntdll.dll",    "ole32.dll",     "oleaut32.dll",       "opengl32.dll", "powrprof.dll",
    "psapi.dll",    "rpcrt4.dll",   "secur32.dll",   "setupapi.dll",       "shell32.dll",  "shlwapi.dll",
    "ucrtbase.dll", "user32.dll",   "userenv.dll",   "uxtheme.dll",        "version.dll",  "windowscodecs.dll",
    "winhttp.dll",  "wininet.dll",  "winmm.dll",     "winspool.drv",       "wintrust.dll", "ws2_32.dll",
    "wsock32.dll",  "wtsapi32.dll", "xinput1_4.dll", "xinput9_1_0.dll",
};

}  // namespace

dll_kind classify_dll(std::string_view name) noexcept
{
    const std::string dll = lower(name);
    if (starts_with(dll, "api-ms-win-") || starts_with(dll, "ext-ms-win-")) return dll_kind::system;
    for (std::string_view system : system_names)
        if (dll == system) return dll_kind::system;
    // GCC's and LLVM's runtimes (MinGW, MSYS2, Cygwin) and Microsoft's
    // redistributable ones, release and debug; msvcrt.dll, above, is Windows'.
    constexpr std::string_view runtime_prefixes[] = {
        "libstdc++", "libgcc_s",    "libwinpthread", "libc++",  "libunwind", "libgomp",
        "libatomic", "libquadmath", "libssp",        "cygwin1", "msys-",     "msvcp",
        "msvcr",     "vcruntime",   "concrt",        "vcomp",   "ucrtbased", "vccorlib"};
    for (std::string_view prefix : runtime_prefixes)
        if (starts_with(dll, prefix)) return dll_kind::runtime;
    return dll_kind::other;
}

}  // namespace validate
