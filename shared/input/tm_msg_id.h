// Message identifiers: the 64-bit FNV-1a hash of a dotted message name
// together with its terminating zero byte.
#pragma once

#include <cstddef>
#include <cstdint>

// FNV-1a 64 over `count` bytes. Each byte enters with its unsigned value
// (0x00 to 0xFF), as in the published function.
constexpr std::uint64_t tm_msg_hash(const char* bytes, std::size_t count) noexcept
{
    std::uint64_t h = 0xCBF29CE484222325ull;  // offset basis
    for (std::size_t i = 0; i < count; ++i) {
        h ^= static_cast<unsigned char>(bytes[i]);
        h *= 0x100000001B3ull;  // FNV prime, modulo 2^64
    }
    return h;
}

// One message identifier. Made from a name literal; the hash covers the
// literal's characters and its terminating zero.
class tm_msg_id {
public:
    template <std::size_t N>
    constexpr explicit tm_msg_id(const char (&name)[N]) noexcept : value_(tm_msg_hash(name, N))
    {
    }

    constexpr std::uint64_t GetValue() const noexcept { return value_; }

    friend constexpr bool operator==(tm_msg_id a, tm_msg_id b) noexcept { return a.value_ == b.value_; }
    friend constexpr bool operator!=(tm_msg_id a, tm_msg_id b) noexcept { return a.value_ != b.value_; }

private:
    std::uint64_t value_;
};
