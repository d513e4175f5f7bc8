// Reading the host's byte stream: messages back to back, each a 64-byte
// header followed by Size - 64 value bytes, with no alignment, count or
// trailer. The caller keeps the running position, 0 at the start of a frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tm_external_message.h"

// Bytes a message with this Size field occupies in the stream. A Size below
// 64 carries no value bytes; a Size above 128 is skipped whole.
constexpr std::uint32_t tm_message_extent(std::uint16_t size) noexcept
{
    return size < tm_external_message::header_size ? tm_external_message::header_size : size;
}

// Value bytes of a message with this Size field that land in the record.
constexpr std::uint32_t tm_message_value_length(std::uint16_t size) noexcept
{
    const std::uint32_t extent = tm_message_extent(size) - tm_external_message::header_size;
    return extent < tm_external_message::GetMaxDataSize() ? extent : tm_external_message::GetMaxDataSize();
}

namespace tm_msg_detail {

inline tm_external_message decode_message(const std::uint8_t* message) noexcept
{
    tm_external_message edm;
    std::memcpy(&edm.Header, message, tm_external_message::header_size);
    std::memcpy(edm.Data, message + tm_external_message::header_size, tm_message_value_length(edm.Header.Size));
    return edm;
}

inline std::uint16_t peek_size(const std::uint8_t* header) noexcept
{
    return static_cast<std::uint16_t>(header[2] | (header[3] << 8));
}

}  // namespace tm_msg_detail

// Reads the message at `position` and advances `position` past it. Trusts
// the stream to hold the whole message: the host's per-frame stream carries
// no length.
inline tm_external_message read_message(const std::uint8_t* stream, std::uint32_t& position) noexcept
{
    const std::uint8_t* message = stream + position;
    position += tm_message_extent(tm_msg_detail::peek_size(message));
    return tm_msg_detail::decode_message(message);
}

// The bounded reader for streams of known length (files, replay, fuzzing).
// Reads the message at `position` into `out` and advances `position` only
// when the whole message lies within the `length` bytes of the stream;
// otherwise returns false and leaves both untouched: the frame ends there.
inline bool read_message_bounded(const std::uint8_t* stream, std::size_t length, std::uint32_t& position,
                                 tm_external_message& out) noexcept
{
    const std::size_t limit = length < UINT32_MAX ? length : UINT32_MAX;  // positions are 32-bit
    if (position > limit) return false;
    const std::size_t remaining = limit - position;
    if (remaining < tm_external_message::header_size) return false;
    const std::uint8_t* message = stream + position;
    const std::uint32_t extent = tm_message_extent(tm_msg_detail::peek_size(message));
    if (remaining < extent) return false;
    out = tm_msg_detail::decode_message(message);
    position += extent;
    return true;
}
