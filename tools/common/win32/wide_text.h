// The tools hold text, paths included, as UTF-8; Windows' wide interface
// takes and gives UTF-16. These convert between the two, so that any name a
// user has (飛行.dll, plane🛩.dll) reaches the system whole, which the ANSI
// interface, bound to one code page, cannot promise.
#pragma once

#include <string>
#include <string_view>

namespace tools {

// UTF-8 to UTF-16; a byte that is not UTF-8 becomes U+FFFD.
std::wstring wide_text(std::string_view utf8);

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string utf8_text(std::wstring_view wide);

// A path for the wide file functions. A path whose full form is longer than
// the system's usual limit (MAX_PATH) is given in the \\?\ form, which has no
// such limit; every other path is passed as written.
std::wstring windows_path(const std::string& path);

}  // namespace tools
