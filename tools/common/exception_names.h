// The words for the exception codes that end a process: the system's own
// and the C++ compilers'.
#pragma once

#include <cstdint>

namespace tools {

// Exception codes of C++ exceptions: GCC's (MinGW) and Microsoft's.
inline constexpr std::uint32_t gcc_cpp_exception = 0x20474343;
inline constexpr std::uint32_t msvc_cpp_exception = 0xE06D7363;
inline bool is_cpp_exception(std::uint32_t code) noexcept
{
    return code == gcc_cpp_exception || code == msvc_cpp_exception;
}

// "access violation", "stack overflow", "C++ exception (GCC)"..., or null
// for a code it does not know.
const char* exception_name(std::uint32_t code) noexcept;

}  // namespace tools
