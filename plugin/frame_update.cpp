#include "plugin/frame_update.h"

#include <new>

#include <skarvel/shared/input/tm_message_stream.h>

namespace {

// Refills the frame list from the stream. Where memory runs out before the
// frame is read whole, the list is left empty: a frame cut short is neither
// shown nor broadcast, as its motion values may be missing.
void read_frame(tm_message_list& frame, const std::uint8_t* stream, std::uint32_t count) noexcept
{
    frame.clear();
    if (stream == nullptr) return;  // nothing can be read: an empty frame
    try {
        frame.reserve(count);
        std::uint32_t message_list_received_byte_stream_pos = 0;
        for (std::uint32_t i = 0; i < count; ++i)
            frame.push_back(read_message(stream, message_list_received_byte_stream_pos));
    } catch (const std::bad_alloc&) {  // the list's storage is all that can fail here
        frame.clear();
    }
}

}  // namespace

void update_frame(frame_context context, double time_step, const std::uint8_t* stream, std::uint32_t count,
                  std::int32_t* output1, std::int32_t* output2) noexcept
{
    receive_frame(context.frame, context.handoff, time_step, stream, count, output1, output2);
    broadcast_motion(context.frame, context.broadcaster);
}

void receive_frame(tm_message_list& frame, handoff_state& handoff, double time_step, const std::uint8_t* stream,
                   std::uint32_t count, std::int32_t* output1, std::int32_t* output2) noexcept
{
    read_frame(frame, stream, count);

    if (!frame.empty()) {
        try {
            handoff.hand_off(frame, time_step);
        } catch (const std::bad_alloc&) {  // no memory for the copy: the display keeps the frame it had
        }
    }

    if (output1 != nullptr) *output1 = 0;
    if (output2 != nullptr) *output2 = 0;
}
