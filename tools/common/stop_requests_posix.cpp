// Stop requests on POSIX systems: SIGINT, SIGTERM and SIGHUP.
#include <signal.h>  // NOLINT(modernize-deprecated-headers): sigaction and SIGHUP are POSIX's, not <csignal>'s

#include <initializer_list>

#include "tools/common/stop_requests.h"

namespace tools {
namespace {

std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void on_stop_signal(int signal)
{
    if (!requested.exchange(true)) return;
    // The second request ends the process at once, as if none were caught.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

void catch_stop_requests() noexcept
{
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

const std::atomic<bool>& stop_requested() noexcept
{
    return requested;
}

}  // namespace tools
