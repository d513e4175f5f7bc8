// Which DLLs a plug-in may import: those that every 64-bit Windows has. A C
// or C++ runtime DLL is the usual other kind, and a plug-in that needs one
// does not load on a machine without it.
#pragma once

#include <string_view>

namespace validate {

enum class dll_kind {
    system,  // part of every Windows (kernel32.dll, api-ms-win-crt-*.dll, ucrtbase.dll...)
    runtime,  // a compiler's runtime: libstdc++-6.dll, VCRUNTIME140.dll, MSVCP140.dll...
    other,  // anything else: the author's own or a third party's
};

// By file name, in any letter case.
dll_kind classify_dll(std::string_view name) noexcept;

}  // namespace validate
