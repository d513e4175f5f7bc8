// The hand-off between the host's thread and the display thread: the latest
// non-empty frame and its time step, guarded by the one hand-off lock.
#pragma once

#include <mutex>

#include "shared/input/tm_message_list.h"

class handoff_state {
public:
    // Host thread: makes the hand-off list a copy of `frame` and stores the
    // time step. May throw std::bad_alloc while copying; the state is then as
    // it was before the call. Nothing is allocated while the lock is held.
    void hand_off(const tm_message_list& frame, double time_step);

    // Display thread: when a frame arrived since the last take, exchanges it
    // with `shown` and sets `time_step`; otherwise leaves both as they are, so
    // a paint without news keeps showing its frame. Constant time, no
    // allocation under the lock.
    void take_latest(tm_message_list& shown, double& time_step) noexcept;

private:
    std::mutex lock_;
    tm_message_list list_;
    double time_step_ = 0.0;
    bool fresh_ = false;
};
