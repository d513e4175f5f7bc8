// CRC-32 (IEEE 802.3, reflected, polynomial 0xEDB88320), as zlib computes it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tools {

// Continues `crc` (0 to start) over `length` bytes.
std::uint32_t crc32(const std::uint8_t* bytes, std::size_t length, std::uint32_t crc = 0) noexcept;

}  // namespace tools
