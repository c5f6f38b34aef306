// The platform's Sleep, the one of the real backend (Linux: os/backends/posix/PreciseSleep.h; Windows:
// kernel32's, with a 1 ms timer resolution around it): whatever it does to wake on time, never shorter than
// asked. The waits of Parts 3.2 and 5.x are minimums. The one test that sleeps for real, 26 ms in all.
#include "os/OsBackend.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

TEST(PlatformSleep, TheRealBackendsSleepLastsAtLeastTheTimeAsked) {
    for (unsigned ms : {1u, 5u, 20u}) {
        const auto before = std::chrono::steady_clock::now();
        tarnos::RealWin32Backend().Sleep(ms);
        const auto elapsed = std::chrono::steady_clock::now() - before;
        EXPECT_GE(elapsed, std::chrono::milliseconds(ms)) << ms << " ms asked";
    }
}

} // namespace
