// The per-frame driver behind Skarvel_External_DLL_Update.
#pragma once

#include <cstdint>

#include <skarvel/shared/input/tm_message_list.h>

#include "display/handoff_state.h"
#include "telemetry/udp_broadcaster.h"

// Everything one Update touches besides its arguments.
struct frame_context {
    tm_message_list& frame;
    handoff_state& handoff;
    udp_broadcaster& broadcaster;
};

// One Update: receive_frame, then the motion broadcast of the frame.
void update_frame(frame_context context, double time_step, const std::uint8_t* stream, std::uint32_t count,
                  std::int32_t* output1, std::int32_t* output2) noexcept;

// Everything of one Update but the broadcast, so it sends nothing: clears
// and refills the frame list from `count` messages of `stream`, hands a
// non-empty frame off and sets both outputs to 0. Never throws. Where memory
// runs out while the frame list grows, the frame is left empty: not handed
// off, and then not broadcast. Where it runs out while the hand-off list is
// copied, the display keeps the frame it had; the frame stays whole and is
// still broadcast. Null outputs are not written; a null stream reads as an
// empty frame.
void receive_frame(tm_message_list& frame, handoff_state& handoff, double time_step, const std::uint8_t* stream,
                   std::uint32_t count, std::int32_t* output1, std::int32_t* output2) noexcept;
