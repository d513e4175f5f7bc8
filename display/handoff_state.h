// The hand-off between the host's thread and the display thread: the latest
// non-empty frame and its time step, guarded by the one hand-off lock. The
// display defines it as its inbox; the plug-in holds one for the library's
// life and hands it to every display thread it starts.
#pragma once

#include <mutex>

#include <skarvel/shared/input/tm_message_list.h>

// `Lock` is std::mutex (handoff_state below); a test puts in a lock that
// watches what is done while it is held.
template <class Lock>
class basic_handoff_state {
public:
    // Host thread: makes the hand-off list a copy of `frame` and stores the
    // time step. The copy goes into a spare list outside the lock; under the
    // lock the spare and the hand-off list only exchange their storage, so
    // nothing is allocated or freed while the lock is held. May throw
    // std::bad_alloc while copying: nothing is handed off then, and the
    // display keeps the frame it has.
    void hand_off(const tm_message_list& frame, double time_step)
    {
        spare_ = frame;  // reuses the spare's storage whenever it is large enough
        const std::lock_guard<Lock> guard(lock_);
        list_.swap(spare_);  // the spare takes the storage of the list handed off before
        time_step_ = time_step;
        fresh_ = true;
    }

    // Display thread: when a frame arrived since the last take, exchanges it
    // with `shown` and sets `time_step`; otherwise leaves both as they are, so
    // a paint without news keeps showing its frame. Constant time, no
    // allocation under the lock.
    void take_latest(tm_message_list& shown, double& time_step) noexcept
    {
        const std::lock_guard<Lock> guard(lock_);
        if (!fresh_) return;
        shown.swap(list_);
        time_step = time_step_;
        fresh_ = false;
    }

private:
    Lock lock_;
    // Guarded by lock_.
    tm_message_list list_;  // the hand-off list
    double time_step_ = 0.0;
    bool fresh_ = false;  // a frame arrived since the last take
    // The host thread's own: where the next frame is copied.
    tm_message_list spare_;
};

using handoff_state = basic_handoff_state<std::mutex>;
