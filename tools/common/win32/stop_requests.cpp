// Stop requests on Windows: the console's control events, through
// SetConsoleCtrlHandler. Under Wine the same handler hears SIGINT, which Wine
// turns into a Ctrl-C event; the scripts turn SIGTERM and SIGHUP into SIGINT
// for the Windows programs they run.
#include <windows.h>

#include "tools/common/stop_requests.h"

namespace tools {
namespace {

std::atomic<bool> requested{false};

BOOL WINAPI on_console_event(DWORD event)
{
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            // The second is left to the system, which ends the process.
            return requested.exchange(true) ? FALSE : TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // Returning would end the process now, the run's output unfinished:
            // the run sees the request, ends, and main() ends the process, this
            // thread with it.
            requested = true;
            Sleep(INFINITE);
            return TRUE;
        default: return FALSE;
    }
}

}  // namespace

void catch_stop_requests() noexcept
{
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

const std::atomic<bool>& stop_requested() noexcept
{
    return requested;
}

}  // namespace tools
