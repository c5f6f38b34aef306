#include "os/backends/posix/PreciseSleep.h"

#include "os/backends/posix/Clock.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace tarnos {
namespace posix {

const uint64_t CPreciseSleeper::MIN_MARGIN_NS;
const uint64_t CPreciseSleeper::MAX_MARGIN_NS;
const uint64_t CPreciseSleeper::FIRST_LATENESS_NS;

uint64_t CPreciseSleeper::MarginNs() const {
    return std::min(std::max(m_LatenessNs + m_LatenessNs / 2, MIN_MARGIN_NS), MAX_MARGIN_NS);
}

void CPreciseSleeper::SleepFor(uint64_t ns) {
    const uint64_t start = m_Clock.NowNs();
    const uint64_t deadline = start + ns;
    const uint64_t margin = MarginNs();
    if (ns > margin) {
        const uint64_t wake = deadline - margin;
        m_Clock.SleepUntilNs(wake);
        const uint64_t woke = m_Clock.NowNs();
        const uint64_t lateness = woke > wake ? woke - wake : 0;
        // The worst recent lateness, forgotten slowly: one late wake-up widens the margin at once, a quiet
        // spell narrows it again over a few dozen sleeps.
        m_LatenessNs = std::max(lateness, m_LatenessNs - m_LatenessNs / 8);
    }
    while (m_Clock.NowNs() < deadline) {
        // The last stretch, at most MAX_MARGIN_NS: reading the clock wakes on time where the kernel cannot.
    }
}

namespace {

class CMonotonicSleepClock final : public ISleepClock {
public:
    uint64_t NowNs() override { return MonotonicNanoseconds(); }
    void SleepUntilNs(uint64_t deadlineNs) override {
        const timespec until{static_cast<time_t>(deadlineNs / 1000000000u),
                             static_cast<long>(deadlineNs % 1000000000u)};
        // An absolute deadline: a signal's restart does not stretch the sleep.
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
    }
};

} // namespace

CPreciseSleeper& RealSleeper() {
    static CMonotonicSleepClock clock;
    thread_local CPreciseSleeper sleeper(clock);
    return sleeper;
}

} // namespace posix
} // namespace tarnos
