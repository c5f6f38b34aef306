// Win32's Sleep on Linux (Part 4.2 lists it among the calls the module makes; Parts 3.2 and 5.x fix the
// waits). A plain nanosleep never returns early but wakes late: about 0.1 ms natively and 0.2 to 0.6 ms in
// a QEMU TCG guest, per call, and Part 5.3 sleeps 10 ms up to 54 times in about 0.5 s (docs/performance.md).
// So the sleeper asks the kernel to wake it a little before the deadline, by as much as it has lately woken
// late, and waits out the rest reading the clock. It never returns before the deadline.
#pragma once

#include <cstdint>

namespace tarnos {
namespace posix {

// The clock the sleeper reads and the kernel's sleep it uses: the real ones (CLOCK_MONOTONIC) or a test's.
class ISleepClock {
public:
    virtual ~ISleepClock() = default;
    virtual uint64_t NowNs() = 0;
    // Returns at or after deadlineNs, as the kernel wakes the thread (signals do not cut it short).
    virtual void SleepUntilNs(uint64_t deadlineNs) = 0;
};

class CPreciseSleeper {
public:
    // How early the kernel is asked to wake the thread: the latest lateness seen (decaying by an eighth per
    // sleep) times 1.5, between these bounds. The upper one caps the clock-reading wait of one sleep.
    static const uint64_t MIN_MARGIN_NS = 50000;      // 0.05 ms
    static const uint64_t MAX_MARGIN_NS = 2000000;    // 2 ms
    static const uint64_t FIRST_LATENESS_NS = 500000; // before any sleep: a TCG guest's worst seen

    explicit CPreciseSleeper(ISleepClock& clock) : m_Clock(clock) {}

    // Returns at or after now + ns. Not thread-safe: one sleeper per thread (RealSleeper()).
    void SleepFor(uint64_t ns);
    // The margin the next sleep uses.
    uint64_t MarginNs() const;

private:
    ISleepClock& m_Clock;
    uint64_t m_LatenessNs = FIRST_LATENESS_NS;
};

// The calling thread's sleeper on the real clock.
CPreciseSleeper& RealSleeper();

} // namespace posix
} // namespace tarnos
