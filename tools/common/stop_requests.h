// The requests to end a run that a user or the system makes, turned into one
// flag that the run watches, so that a run ended any of these ways keeps its
// promise (its output complete and in place, its summary said):
// - POSIX: SIGINT (Ctrl-C), SIGTERM (kill, timeout, service managers) and
//   SIGHUP (the terminal closed);
// - Windows: Ctrl-C, Ctrl-Break, the console window closed, log-off and
//   shut-down. For the last three the system ends the process as soon as the
//   handler returns, so the handler does not return: the program ends the
//   process itself once its run has ended, within the few seconds the system
//   allows;
// - Windows programs under Wine on Linux: SIGINT, which Wine turns into a
//   Ctrl-C event. Wine ends a Windows program at once on SIGTERM or SIGHUP,
//   which Windows has not: the project's scripts turn those into SIGINT for
//   the Windows programs they run (scripts/lib/jobs.sh).
#pragma once

#include <atomic>

namespace tools {

// Installs the handlers; once, at the start of main(). A second request
// ends the process at once, as if none were caught: a run that cannot stop
// (a plug-in that hangs) can still be ended.
void catch_stop_requests() noexcept;

// Turns true at the first request to stop.
const std::atomic<bool>& stop_requested() noexcept;

}  // namespace tools
