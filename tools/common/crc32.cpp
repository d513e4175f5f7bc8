#include "tools/common/crc32.h"

#include <array>

namespace tools {
namespace {

constexpr std::array<std::uint32_t, 256> make_table() noexcept
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> table = make_table();

}  // namespace

std::uint32_t crc32(const std::uint8_t* bytes, std::size_t length, std::uint32_t crc) noexcept
{
    crc = ~crc;
    for (std::size_t i = 0; i < length; ++i) crc = table[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

}  // namespace tools
