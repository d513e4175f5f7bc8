// A string of at most 255 narrow characters held in place: a 32-bit length
// and a 256-byte buffer that is zero after the last character. It owns
// nothing and is copied by value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tm_msg_id.h"

class tm_fixed_string {
public:
    static constexpr std::uint32_t capacity = 256;
    static constexpr std::uint32_t max_length = capacity - 1;

    // Empty: length 0, every byte zero.
    constexpr tm_fixed_string() noexcept = default;

    // From a name literal of N - 1 characters and its terminating zero.
    template <std::size_t N>
    constexpr tm_fixed_string(const char (&literal)[N]) noexcept  // NOLINT: implicit by design
    {
        static_assert(N >= 1 && N <= capacity, "a name has at most 255 characters");
        for (std::size_t i = 0; i + 1 < N; ++i) chars_[i] = literal[i];
        length_ = static_cast<std::uint32_t>(N - 1);
    }

    // From 8-bit characters: stops at 255 characters, at max_count or at a
    // zero byte, whichever comes first. Reads the source below max_count only.
    static constexpr tm_fixed_string from_chars(const char* source, std::size_t max_count) noexcept
    {
        tm_fixed_string s;
        while (s.length_ < max_length && s.length_ < max_count && source[s.length_] != 0) {
            s.chars_[s.length_] = source[s.length_];
            ++s.length_;
        }
        return s;
    }

    // From 16-bit units: a unit below 256 becomes the byte of the same value,
    // any other unit (each half of a surrogate pair included) a "?".
    static constexpr tm_fixed_string from_units(const char16_t* source, std::size_t max_count) noexcept
    {
        tm_fixed_string s;
        while (s.length_ < max_length && s.length_ < max_count && source[s.length_] != 0) {
            const char16_t unit = source[s.length_];
            s.chars_[s.length_] = unit < 256 ? static_cast<char>(static_cast<unsigned char>(unit)) : '?';
            ++s.length_;
        }
        return s;
    }

    constexpr std::uint32_t GetLength() const noexcept { return length_; }
    constexpr const char* GetCString() const noexcept { return chars_; }
    // The whole buffer, terminator and trailing zero bytes included.
    constexpr const char* data() const noexcept { return chars_; }

private:
    std::uint32_t length_ = 0;
    char chars_[capacity] = {};
};

// A message name with its identifier: one element of the name catalogue.
struct tm_msg_name_entry {
    template <std::size_t N>
    constexpr explicit tm_msg_name_entry(const char (&literal)[N]) noexcept : name(literal), identifier(literal)
    {
    }

    tm_fixed_string name;
    tm_msg_id identifier;
};
