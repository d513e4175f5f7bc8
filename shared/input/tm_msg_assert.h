// Precondition reports of the message record's getters. In builds with
// assertions enabled a failed check goes to the C library's assertion
// facility with the expression text, the source path
// "shared/input/tm_external_message" and the line the getter names; in
// builds with NDEBUG the check compiles to nothing.
#pragma once

#include <cassert>

#define TM_MSG_SOURCE_PATH "shared/input/tm_external_message"

#if defined(NDEBUG)
#define TM_MSG_REQUIRE(condition, line) ((void)0)
#else
#define TM_MSG_REQUIRE(condition, line) \
    ((condition) ? (void)0 : ::tm_msg_detail::assertion_failed(#condition, L"" #condition, line))

namespace tm_msg_detail {

#if defined(_MSC_VER)
inline void assertion_failed(const char*, const wchar_t* text, unsigned line) noexcept
{
    _wassert(text, L"" TM_MSG_SOURCE_PATH, line);
}
#elif defined(_WIN32)
inline void assertion_failed(const char* text, const wchar_t*, unsigned line) noexcept
{
    _assert(text, TM_MSG_SOURCE_PATH, line);
}
#else
inline void assertion_failed(const char* text, const wchar_t*, unsigned line) noexcept
{
    __assert_fail(text, TM_MSG_SOURCE_PATH, line, "tm_external_message getter");
}
#endif

}  // namespace tm_msg_detail
#endif
