#include "tools/common/exception_names.h"

namespace tools {

const char* exception_name(std::uint32_t code) noexcept
{
    struct known {
        std::uint32_t code;
        const char* words;
    };
    static const known codes[] = {
        {0xC0000005, "access violation"},
        {0xC00000FD, "stack overflow"},
        {0xC0000409, "fast fail or stack buffer overrun"},
        {0xC0000374, "heap corruption"},
        {0xC0000094, "integer division by zero"},
        {0xC0000095, "integer overflow"},
        {0xC000001D, "illegal instruction"},
        {0xC0000096, "privileged instruction"},
        {0xC0000006, "in-page error"},
        {0xC000008C, "array bounds exceeded"},
        {0xC000008E, "floating-point division by zero"},
        {0xC0000090, "invalid floating-point operation"},
        {0xC0000091, "floating-point overflow"},
        {0xC0000093, "floating-point underflow"},
        {0xC000008F, "inexact floating-point result"},
        {0xC000008D, "denormal floating-point operand"},
        {0x80000003, "breakpoint"},
        {0xC0000135, "a DLL was not found"},
        {0xC0000139, "an entry point was not found"},
        {0xC0000142, "a DLL failed to initialise"},
        {gcc_cpp_exception, "C++ exception (GCC)"},
        {msvc_cpp_exception, "C++ exception (Microsoft C++)"},
    };
    for (const known& entry : codes)
        if (entry.code == code) return entry.words;
    return nullptr;
}

}  // namespace tools
