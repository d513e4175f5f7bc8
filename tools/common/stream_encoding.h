// The host's side of the received stream: a frame's records written back to
// back, each its 64-byte header and Size - 64 value bytes; and the checked
// reading of such a stream when it comes from a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <skarvel/shared/input/tm_message_list.h>

namespace tools {

// Appends the frame's messages to `stream` as the plug-in reads them. A Size
// below 64 is written as a bare header; value bytes beyond the 64 of the
// record (a Size above 128) are written as zeros.
void encode_stream(const tm_message_list& frame, std::vector<std::uint8_t>& stream);

// Reads exactly `count` messages from `length` bytes with the bounded
// reader. Fails, with a sentence in `error`, when a message runs past the
// end or bytes are left over; `frame` then holds the messages read so far.
bool decode_stream(const std::uint8_t* stream, std::size_t length, std::uint32_t count, tm_message_list& frame,
                   std::string& error);

}  // namespace tools
