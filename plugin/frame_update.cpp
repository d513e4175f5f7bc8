#include "plugin/frame_update.h"

#include "shared/input/tm_message_stream.h"

namespace {

// Refills the frame list from the stream. False when memory ran out before
// the frame was read whole; the frame list is then left empty.
bool read_frame(tm_message_list& frame, const std::uint8_t* stream, std::uint32_t count) noexcept
{
    frame.clear();
    if (stream == nullptr) return true;  // nothing can be read: an empty frame
    try {
        frame.reserve(count);
        std::uint32_t message_list_received_byte_stream_pos = 0;
        for (std::uint32_t i = 0; i < count; ++i)
            frame.push_back(read_message(stream, message_list_received_byte_stream_pos));
        return true;
    } catch (...) {  // only the list's allocation can fail here
        frame.clear();
        return false;
    }
}

}  // namespace

void update_frame(frame_context context, double time_step, const std::uint8_t* stream, std::uint32_t count,
                  std::int32_t* output1, std::int32_t* output2) noexcept
{
    const bool whole = read_frame(context.frame, stream, count);

    if (whole && !context.frame.empty()) {
        try {
            context.handoff.hand_off(context.frame, time_step);
        } catch (...) {  // out of memory: the display keeps the frame it had
        }
    }

    if (output1 != nullptr) *output1 = 0;
    if (output2 != nullptr) *output2 = 0;

    // A frame cut short by memory exhaustion is not broadcast: its motion
    // values may be missing or stale.
    if (whole) broadcast_motion(context.frame, context.broadcaster);
}
