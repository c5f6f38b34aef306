#include "os/backends/posix/Clock.h"

#include "os/backends/posix/PreciseSleep.h"

#include <ctime>

#include <sched.h>

namespace tarnos {
namespace posix {

uint64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t MonotonicMilliseconds() {
    return MonotonicNanoseconds() / 1000000u;
}

void SleepMilliseconds(uint32_t milliseconds) {
    if (milliseconds == 0) {
        sched_yield(); // Win32's Sleep(0): give up the rest of the time slice, no wait
        return;
    }
    RealSleeper().SleepFor(static_cast<uint64_t>(milliseconds) * 1000000u);
}

} // namespace posix
} // namespace tarnos
