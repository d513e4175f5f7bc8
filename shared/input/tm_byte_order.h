// Little-endian loads and stores for the record's value area, the motion
// datagram and the tools' file formats, independent of the machine's own
// byte order.
#pragma once

#include <cstdint>
#include <cstring>

namespace tm_byte_order {

constexpr void store_u16_le(std::uint8_t* p, std::uint16_t v) noexcept
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

constexpr void store_u32_le(std::uint8_t* p, std::uint32_t v) noexcept
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

constexpr void store_u64_le(std::uint8_t* p, std::uint64_t v) noexcept
{
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void store_f64_le(std::uint8_t* p, double v) noexcept
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    store_u64_le(p, bits);
}

constexpr std::uint16_t load_u16_le(const std::uint8_t* p) noexcept
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

constexpr std::uint32_t load_u32_le(const std::uint8_t* p) noexcept
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

constexpr std::uint64_t load_u64_le(const std::uint8_t* p) noexcept
{
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

inline void store_f32_le(std::uint8_t* p, float v) noexcept
{
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    store_u32_le(p, bits);
}

inline float load_f32_le(const std::uint8_t* p) noexcept
{
    const std::uint32_t bits = load_u32_le(p);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

inline double load_f64_le(const std::uint8_t* p) noexcept
{
    const std::uint64_t bits = load_u64_le(p);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

}  // namespace tm_byte_order
