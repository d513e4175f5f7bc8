// Requests to stop: the first sets the flag the run watches, the second ends
// the process at once (a run that cannot stop can still be ended). Under
// Wine the same is checked with the real host (host_record.sh).
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>  // NOLINT(modernize-deprecated-headers): SIGHUP is POSIX's, not <csignal>'s

#include <cstdlib>

#include "tools/common/stop_requests.h"

TEST(StopRequests, TheFirstIsAskingTheSecondEndsAtOnce)
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        EXPECT_EXIT(
            {
                tools::catch_stop_requests();
                ::raise(signal);
                if (!tools::stop_requested()) std::_Exit(1);
                ::raise(signal);
                std::_Exit(2);
            },
            ::testing::KilledBySignal(signal), "")
            << signal;
    }
}
#endif
