#include "tools/common/frame_recording.h"

#include <cmath>
#include <cstring>
#include <istream>
#include <ostream>

#include <skarvel/shared/input/tm_byte_order.h>

#include "tools/common/crc32.h"
#include "tools/common/stream_encoding.h"

namespace tools {

using namespace tm_byte_order;

void encode_recording_header(std::uint8_t (&header)[recording_header_size]) noexcept
{
    std::memcpy(header, recording_magic, sizeof recording_magic);
    store_u32_le(header + 8, recording_version);
    store_u32_le(header + 12, 0);
}

bool encode_recorded_frame_envelope(double time_step, std::uint32_t message_count, const std::uint8_t* stream,
                                    std::size_t length, recorded_frame_envelope& envelope) noexcept
{
    if (length > recording_max_payload - recording_payload_prefix) return false;
    const auto payload_length = static_cast<std::uint32_t>(recording_payload_prefix + length);
    store_u32_le(envelope.prefix, payload_length);
    store_f64_le(envelope.prefix + 4, time_step);
    store_u32_le(envelope.prefix + 12, message_count);
    std::uint32_t crc = crc32(envelope.prefix + 4, recording_payload_prefix);
    crc = crc32(stream, length, crc);
    store_u32_le(envelope.trailer, crc);
    return true;
}

bool write_recording_header(std::ostream& out)
{
    std::uint8_t header[recording_header_size];
    encode_recording_header(header);
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    return out.good();
}

bool write_recorded_frame(std::ostream& out, double time_step, std::uint32_t message_count, const std::uint8_t* stream,
                          std::size_t length)
{
    recorded_frame_envelope envelope;
    if (!encode_recorded_frame_envelope(time_step, message_count, stream, length, envelope)) {
        out.setstate(std::ios::failbit);
        return false;
    }
    out.write(reinterpret_cast<const char*>(envelope.prefix), sizeof envelope.prefix);
    out.write(reinterpret_cast<const char*>(stream), static_cast<std::streamsize>(length));
    out.write(reinterpret_cast<const char*>(envelope.trailer), sizeof envelope.trailer);
    return out.good();
}

std::size_t recording_reader::read_some(std::uint8_t* to, std::size_t count)
{
    in_.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(count));
    const auto got = static_cast<std::size_t>(in_.gcount());
    offset_ += got;
    return got;
}

recording_reader::result recording_reader::fail(std::string& error, const std::string& what)
{
    failed_ = true;
    error = what;
    return result::error;
}

bool recording_reader::open(std::string& error)
{
    std::uint8_t header[recording_header_size];
    const std::size_t got = read_some(header, sizeof header);
    if (got < sizeof header || std::memcmp(header, recording_magic, sizeof recording_magic) != 0) {
        fail(error,
             got == 0 ? "the file is empty, not a frame recording" : "not a frame recording (no \"SKVREC\" header)");
        return false;
    }
    const std::uint32_t version = load_u32_le(header + 8);
    if (version != recording_version) {
        fail(error, "recording format version " + std::to_string(version) + " is not supported (this reader knows " +
                        std::to_string(recording_version) + ")");
        return false;
    }
    if (load_u32_le(header + 12) != 0) {
        fail(error, "the recording's header has unknown flags set");
        return false;
    }
    return true;
}

recording_reader::result recording_reader::next(recorded_frame& frame, tm_message_list& messages, std::string& error)
{
    if (failed_) return fail(error, "the recording was already found faulty");
    const std::uint64_t number = frames_ + 1;
    const std::uint64_t start = offset_;
    const std::string where = "frame " + std::to_string(number) + " (at byte " + std::to_string(start) + "): ";

    std::uint8_t length_bytes[4];
    const std::size_t got = read_some(length_bytes, sizeof length_bytes);
    if (got == 0) return result::end;
    if (got < sizeof length_bytes) {
        cut_short_ = true;
        return fail(error, where + "truncated inside its length prefix");
    }
    const std::uint32_t payload_length = load_u32_le(length_bytes);
    if (payload_length < recording_payload_prefix || payload_length > recording_max_payload)
        return fail(error, where + "corrupt: payload length " + std::to_string(payload_length) +
                               " lies outside 12 to " + std::to_string(recording_max_payload));

    std::vector<std::uint8_t> payload(payload_length + 4u);
    const std::size_t body = read_some(payload.data(), payload.size());
    if (body < payload.size()) {
        cut_short_ = true;
        return fail(error, where + "truncated: " + std::to_string(payload.size()) +
                               " bytes expected after its length, " + std::to_string(body) + " present");
    }
    const std::uint32_t stored_crc = load_u32_le(payload.data() + payload_length);
    if (crc32(payload.data(), payload_length) != stored_crc) return fail(error, where + "corrupt: checksum mismatch");

    const double time_step = load_f64_le(payload.data());
    if (!std::isfinite(time_step)) return fail(error, where + "corrupt: the time step is not a finite number");
    const std::uint32_t count = load_u32_le(payload.data() + 8);
    const std::uint8_t* stream = payload.data() + recording_payload_prefix;
    const std::size_t stream_length = payload_length - recording_payload_prefix;
    std::string why;
    if (!decode_stream(stream, stream_length, count, messages, why)) return fail(error, where + "corrupt: " + why);

    frame.time_step = time_step;
    frame.message_count = count;
    frame.stream.assign(stream, stream + stream_length);
    ++frames_;
    return result::frame;
}

}  // namespace tools
