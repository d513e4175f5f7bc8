// Start and stop of the display thread, on the host's thread. Init and
// Shutdown are the only callers; the host calls them one at a time.
#pragma once

#include <windows.h>

// Starts a display thread for `module` unless one is running already (true
// then too). A thread that ended by itself, its window closed by the user, is
// replaced by a new one. False only when no thread could be started.
bool start_display_thread(HINSTANCE module) noexcept;

// Asks a running display thread to end and waits until it has. Returns at
// once when no thread runs: never started, already stopped, or ended by
// itself. Must not be called under the loader lock.
void stop_display_thread() noexcept;

// At unload no display thread runs any more (each holds a reference on the
// library until its very end); closes the handle of one that ended by
// itself. Never waits, so it is safe under the loader lock.
void release_display_thread() noexcept;
