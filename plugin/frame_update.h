// The per-frame driver behind Skarvel_External_DLL_Update.
#pragma once

#include <cstdint>

#include "plugin/handoff_state.h"
#include "shared/input/tm_message_list.h"
#include "telemetry/udp_broadcaster.h"

// Everything one Update touches besides its arguments.
struct frame_context {
    tm_message_list& frame;
    handoff_state& handoff;
    udp_broadcaster& broadcaster;
};

// Clears and refills the frame list from `count` messages of `stream`, hands
// a non-empty frame off, sets both outputs to 0, then broadcasts the motion
// datagram. Never throws: memory exhaustion skips the frame's hand-off.
void update_frame(frame_context context, double time_step, const std::uint8_t* stream, std::uint32_t count,
                  std::int32_t* output1, std::int32_t* output2) noexcept;
