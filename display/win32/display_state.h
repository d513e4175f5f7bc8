// All the display keeps, in one place. One display_state is made when a
// display thread starts and goes when that thread has ended; it refers to
// what outlives the thread, which the plug-in holds and passes in: the
// hand-off it draws from and the picture it keeps showing and counting.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include <skarvel/shared/input/tm_message_list.h>

#include "display/handoff_state.h"

// What the window shows: the frame on show (the display list), its time
// step, and the number of paints so far. Display thread only. It lives as
// long as the library: a new start goes on showing the frame and counting.
struct display_picture {
    tm_message_list messages;
    double time_step = 0.0;
    std::uint64_t paint_counter = 0;
};

struct display_state {
    display_state(HINSTANCE module, handoff_state& inbox, display_picture& kept) noexcept
        : module_handle(module), handoff(inbox), picture(kept)
    {
    }
    display_state(const display_state&) = delete;
    display_state& operator=(const display_state&) = delete;

    const HINSTANCE module_handle;  // the library's: the window class's module
    handoff_state& handoff;
    display_picture& picture;

    // Shared with the host's thread. Sequentially consistent: the thread
    // publishes its window and then reads the stop request, the host sets
    // the stop request and then reads the window, so at least one side sees
    // the other and no stop is lost whichever comes first.
    std::atomic<HWND> window{nullptr};
    std::atomic<bool> stop_requested{false};
    // The thread has left its loop: what remains of it is teardown.
    std::atomic<bool> closing{false};

    // Display thread only: the user closed the window.
    bool quit = false;
};
