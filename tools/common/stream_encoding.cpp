#include "tools/common/stream_encoding.h"

#include <cstring>

#include <skarvel/shared/input/tm_message_stream.h>

namespace tools {

void encode_stream(const tm_message_list& frame, std::vector<std::uint8_t>& stream)
{
    for (const tm_external_message& m : frame) {
        const std::size_t at = stream.size();
        const std::uint32_t extent = tm_message_extent(m.Header.Size);
        stream.resize(at + extent);  // zero-filled beyond what is copied
        std::memcpy(stream.data() + at, &m.Header, tm_external_message::header_size);
        std::memcpy(stream.data() + at + tm_external_message::header_size, m.Data,
                    tm_message_value_length(m.Header.Size));
    }
}

bool decode_stream(const std::uint8_t* stream, std::size_t length, std::uint32_t count, tm_message_list& frame,
                   std::string& error)
{
    frame.clear();
    std::uint32_t position = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        tm_external_message m;
        if (!read_message_bounded(stream, length, position, m)) {
            error = "message " + std::to_string(i + 1) + " of " + std::to_string(count) + " runs past the end of the " +
                    std::to_string(length) + "-byte stream (at byte " + std::to_string(position) + ")";
            return false;
        }
        frame.push_back(m);
    }
    if (position != length) {
        error =
            std::to_string(length - position) + " bytes follow the last of the " + std::to_string(count) + " messages";
        return false;
    }
    return true;
}

}  // namespace tools
