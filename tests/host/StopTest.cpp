// Ctrl-C (formats.md section 1): the first SIGINT makes StopRequested() true from then on, the second
// ends the process at once. Death tests, so each runs in a child process of its own.
#include "host/Stop.h"
#include "host/HostError.h"

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace tarnhost {
namespace {

TEST(StopDeathTest, FirstInterruptRequestsAStopThatStays) {
    EXPECT_EXIT(
        {
            InstallStopHandler();
            bool before = StopRequested();
            std::raise(SIGINT);
            bool after = StopRequested();
            bool still = StopRequested();
            _exit(!before && after && still ? 7 : 8);
        },
        ::testing::ExitedWithCode(7), "stopping at the test's next stop check");
}

TEST(StopDeathTest, SecondInterruptEndsTheProcessAtOnce) {
    EXPECT_EXIT(
        {
            InstallStopHandler();
            std::raise(SIGINT);
            std::raise(SIGINT);
            _exit(9); // not reached
        },
        ::testing::ExitedWithCode(EXIT_INTERRUPTED), "quitting at once");
}

} // namespace
} // namespace tarnhost
