// Start and stop of the display thread, on the host's thread. Init and
// Shutdown are the only callers; the host calls them one at a time.
#pragma once

#include <windows.h>

#include <optional>

#include "display/handoff_state.h"
#include "display/win32/display_state.h"

// The display thread object: the running or ended display thread and the
// display state made for it, which lives until that thread has ended.
class display_lifecycle {
public:
    // Starts a display thread for `module` unless one is running already
    // (true then too); its new state draws from `handoff` into `picture`. A
    // thread that ended by itself, its window closed by the user, is
    // replaced by a new one. False only when no thread could be started.
    bool start(HINSTANCE module, handoff_state& handoff, display_picture& picture) noexcept;

    // Asks a running display thread to end and waits until it has. Returns
    // at once when no thread runs: never started, already stopped, or ended
    // by itself. Must not be called under the loader lock.
    void stop() noexcept;

    // At unload no display thread runs any more (each holds a reference on
    // the library until its very end); forgets one that ended by itself.
    // Never waits, so it is safe under the loader lock.
    void release() noexcept;

private:
    void forget() noexcept;

    HANDLE thread_ = nullptr;  // null when none was started since the last stop
    std::optional<display_state> state_;  // the thread's state, while there is a thread
};
