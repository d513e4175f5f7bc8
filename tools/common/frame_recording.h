// Recordings of the frames a host sends: a file header, then one
// length-prefixed, checksummed record per frame holding the time step, the
// message count and the stream bytes exactly as Update received them.
//
//   file header, 16 bytes:
//     0   8  magic 53 4B 56 52 45 43 0D 0A ("SKVREC\r\n")
//     8   4  format version, u32 (1)
//     12  4  flags, u32 (0; a version 1 reader refuses others)
//   each frame:
//     0   4  payload length L, u32, 12 to recording_max_payload
//     4   L  payload: time step (f64, s), message count (u32), then the
//            L - 12 stream bytes, which hold exactly that many messages
//     4+L 4  CRC-32 of the payload, u32
//
// All numbers little-endian. The file ends after the last whole frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include <skarvel/shared/input/tm_message_list.h>

namespace tools {

inline constexpr std::uint8_t recording_magic[8] = {0x53, 0x4B, 0x56, 0x52, 0x45, 0x43, 0x0D, 0x0A};
inline constexpr std::uint32_t recording_version = 1;
inline constexpr std::size_t recording_header_size = 16;
inline constexpr std::uint32_t recording_payload_prefix = 12;  // time step and count
inline constexpr std::uint32_t recording_max_payload = 16u << 20;

struct recorded_frame {
    double time_step = 0.0;
    std::uint32_t message_count = 0;
    std::vector<std::uint8_t> stream;
};

// The bytes of the file header.
void encode_recording_header(std::uint8_t (&header)[recording_header_size]) noexcept;

// The bytes around one frame's stream: before it the length prefix, the time
// step and the message count; after it the checksum.
struct recorded_frame_envelope {
    std::uint8_t prefix[4 + recording_payload_prefix];
    std::uint8_t trailer[4];
};
inline constexpr std::size_t recorded_frame_overhead = sizeof(recorded_frame_envelope);
// False, with nothing encoded, when the stream is too long for a frame.
bool encode_recorded_frame_envelope(double time_step, std::uint32_t message_count, const std::uint8_t* stream,
                                    std::size_t length, recorded_frame_envelope& envelope) noexcept;

// Writing. Each returns false once the stream has failed (disk full...).
bool write_recording_header(std::ostream& out);
bool write_recorded_frame(std::ostream& out, double time_step, std::uint32_t message_count, const std::uint8_t* stream,
                          std::size_t length);

// Reading, frame by frame, with every length checked before it is used. An
// error is one sentence naming the frame (counted from 1) and its byte
// offset; after an error the reader stays failed.
class recording_reader {
public:
    explicit recording_reader(std::istream& in) noexcept : in_(in) {}

    // Reads and checks the file header.
    bool open(std::string& error);

    enum class result { frame, end, error };
    // The next frame into `frame` (its stream checked to hold exactly its
    // counted messages, decoded into `messages`), the clean end of the
    // file, or an error.
    result next(recorded_frame& frame, tm_message_list& messages, std::string& error);

    std::uint64_t frames_read() const noexcept { return frames_; }
    // Whether the error was the file ending inside a frame (in its length,
    // its payload or its checksum): a recording cut short, as by a crash,
    // whose frames before that one are whole.
    bool cut_short() const noexcept { return cut_short_; }

private:
    result fail(std::string& error, const std::string& what);
    std::size_t read_some(std::uint8_t* to, std::size_t count);

    std::istream& in_;
    std::uint64_t offset_ = 0;
    std::uint64_t frames_ = 0;
    bool failed_ = false;
    bool cut_short_ = false;
};

}  // namespace tools
