#include "plugin/handoff_state.h"

#include <utility>

void handoff_state::hand_off(const tm_message_list& frame, double time_step)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (list_.capacity() >= frame.size()) {
            list_ = frame;  // fits the storage it has: copies, never allocates
            time_step_ = time_step;
            fresh_ = true;
            return;
        }
    }
    // Too small: copy outside the lock, where a failed allocation changes
    // nothing, then swap the copy in. The old storage goes with `copy`, after
    // the lock is released.
    tm_message_list copy(frame);
    std::lock_guard<std::mutex> guard(lock_);
    list_.swap(copy);
    time_step_ = time_step;
    fresh_ = true;
}

void handoff_state::take_latest(tm_message_list& shown, double& time_step) noexcept
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!fresh_) return;
    shown.swap(list_);
    time_step = time_step_;
    fresh_ = false;
}
