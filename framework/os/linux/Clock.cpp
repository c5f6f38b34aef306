// Real time on Linux: Win32's GetTickCount and Sleep, and the clock of the COM time-outs.
//
// A plain nanosleep never returns early but wakes late: about 0.1 ms natively and 0.2 to 0.6 ms in a QEMU
// TCG guest, per call, and the internal send and receive test sleeps 10 ms up to 54 times in about 0.5 s
// (docs/performance.md). So Sleep asks the kernel to wake the thread a little before the deadline, by as
// much as it has lately woken late, and waits out the rest reading the clock. It never returns before the
// deadline.
#include "os/linux/Internal.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

#include <sched.h>

namespace tarnos {
namespace {

// How early the kernel is asked to wake the thread: the latest lateness seen (decaying by an eighth per
// sleep) times 1.5, between these bounds. The upper one caps the clock-reading wait of one sleep.
const uint64_t MIN_MARGIN_NS = 50000;      // 0.05 ms
const uint64_t MAX_MARGIN_NS = 2000000;    // 2 ms
const uint64_t FIRST_LATENESS_NS = 500000; // before any sleep: a TCG guest's worst seen

// Each thread's own: how late the kernel woke it lately.
thread_local uint64_t t_LatenessNs = FIRST_LATENESS_NS;

uint64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

// Returns at or after deadlineNs, as the kernel wakes the thread. An absolute deadline: a signal's
// restart does not stretch the sleep, and a signal does not cut it short.
void SleepUntilNs(uint64_t deadlineNs) {
    const timespec until{static_cast<time_t>(deadlineNs / 1000000000u),
                         static_cast<long>(deadlineNs % 1000000000u)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

void SleepPreciselyFor(uint64_t ns) {
    const uint64_t deadline = MonotonicNanoseconds() + ns;
    const uint64_t margin = std::min(std::max(t_LatenessNs + t_LatenessNs / 2, MIN_MARGIN_NS), MAX_MARGIN_NS);
    if (ns > margin) {
        const uint64_t wake = deadline - margin;
        SleepUntilNs(wake);
        const uint64_t woke = MonotonicNanoseconds();
        const uint64_t lateness = woke > wake ? woke - wake : 0;
        // The worst recent lateness, forgotten slowly: one late wake-up widens the margin at once, a quiet
        // spell narrows it again over a few dozen sleeps.
        t_LatenessNs = std::max(lateness, t_LatenessNs - t_LatenessNs / 8);
    }
    while (MonotonicNanoseconds() < deadline) {
        // The last stretch, at most MAX_MARGIN_NS: reading the clock wakes on time where the kernel cannot.
    }
}

} // namespace

uint64_t MonotonicMilliseconds() {
    return MonotonicNanoseconds() / 1000000u;
}

void SleepMilliseconds(uint32_t milliseconds) {
    if (milliseconds == 0) {
        sched_yield(); // Win32's Sleep(0): give up the rest of the time slice, no wait
        return;
    }
    SleepPreciselyFor(static_cast<uint64_t>(milliseconds) * 1000000u);
}

} // namespace tarnos
