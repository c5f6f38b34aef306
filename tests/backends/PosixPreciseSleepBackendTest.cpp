// Win32's Sleep on Linux (os/backends/posix/PreciseSleep.h): never shorter than asked, woken early by the
// kernel by a margin that follows the lateness seen, the rest waited out on the clock. A scripted clock
// stands in for CLOCK_MONOTONIC and the kernel's sleep (tests/framework/PlatformSleepTest.cpp times the real
// one).
#include "os/backends/posix/PreciseSleep.h"

#include <gtest/gtest.h>

#include <vector>

namespace backendtests {
namespace {

using tarnos::posix::CPreciseSleeper;

// Each clock read moves time on by READ_NS (the clock-reading wait ends); the kernel's sleep wakes
// m_LatenessNs after the deadline asked. Every deadline asked is kept.
class CScriptedClock final : public tarnos::posix::ISleepClock {
public:
    static const uint64_t READ_NS = 1000;

    uint64_t NowNs() override {
        m_Now += READ_NS;
        return m_Now;
    }
    void SleepUntilNs(uint64_t deadlineNs) override {
        m_Asked.push_back(deadlineNs);
        m_Now = (deadlineNs > m_Now ? deadlineNs : m_Now) + m_LatenessNs;
    }

    uint64_t m_Now = 1000000000;
    uint64_t m_LatenessNs = 0;
    std::vector<uint64_t> m_Asked;
};

const uint64_t MS = 1000000;

// Sleeps 10 ms count times: enough, at a steady lateness, for the margin to settle.
void SleepTimes(CPreciseSleeper& sleeper, int count) {
    for (int i = 0; i < count; ++i) {
        sleeper.SleepFor(10 * MS);
    }
}

TEST(PosixPreciseSleep, NeverReturnsBeforeTheDeadlineWhateverTheLateness) {
    for (uint64_t lateness : {uint64_t{0}, uint64_t{30000}, uint64_t{400000}, 3 * MS, 20 * MS}) {
        CScriptedClock clock;
        clock.m_LatenessNs = lateness;
        CPreciseSleeper sleeper(clock);
        for (int i = 0; i < 20; ++i) {
            const uint64_t before = clock.m_Now;
            sleeper.SleepFor(10 * MS);
            EXPECT_GE(clock.m_Now, before + 10 * MS) << "lateness " << lateness << ", sleep " << i;
        }
    }
}

TEST(PosixPreciseSleep, FirstSleepAsksTheKernelToWakeOneAndAHalfTimesTheFirstLatenessEarly) {
    CScriptedClock clock;
    CPreciseSleeper sleeper(clock);
    EXPECT_EQ(sleeper.MarginNs(), CPreciseSleeper::FIRST_LATENESS_NS * 3 / 2);
    const uint64_t start = clock.m_Now + CScriptedClock::READ_NS; // the sleeper's first clock read
    sleeper.SleepFor(10 * MS);
    ASSERT_EQ(clock.m_Asked.size(), 1u);
    EXPECT_EQ(clock.m_Asked[0], start + 10 * MS - CPreciseSleeper::FIRST_LATENESS_NS * 3 / 2);
}

TEST(PosixPreciseSleep, WakesWithinAFewClockReadsOfTheDeadlineWhenTheKernelIsSteadilyLate) {
    CScriptedClock clock;
    clock.m_LatenessNs = 300000; // a TCG guest's typical 0.3 ms
    CPreciseSleeper sleeper(clock);
    for (int i = 0; i < 10; ++i) {
        const uint64_t before = clock.m_Now;
        sleeper.SleepFor(10 * MS);
        EXPECT_LE(clock.m_Now - before, 10 * MS + 3 * CScriptedClock::READ_NS) << "sleep " << i;
    }
}

TEST(PosixPreciseSleep, MarginDecaysTowardOneAndAHalfTimesASteadyLateness) {
    CScriptedClock clock;
    clock.m_LatenessNs = 100000;
    CPreciseSleeper sleeper(clock);
    SleepTimes(sleeper, 100);
    // The lateness measured includes the one clock read after the wake-up.
    EXPECT_EQ(sleeper.MarginNs(), (100000 + CScriptedClock::READ_NS) * 3 / 2);
}

TEST(PosixPreciseSleep, OneLateWakeUpWidensTheMarginAtOnce) {
    CScriptedClock clock;
    clock.m_LatenessNs = 100000;
    CPreciseSleeper sleeper(clock);
    SleepTimes(sleeper, 100);
    clock.m_LatenessNs = 1 * MS;
    sleeper.SleepFor(10 * MS);
    EXPECT_EQ(sleeper.MarginNs(), (1 * MS + CScriptedClock::READ_NS) * 3 / 2);
}

TEST(PosixPreciseSleep, MarginStaysBetweenItsBounds) {
    CScriptedClock punctual;
    CPreciseSleeper quick(punctual);
    SleepTimes(quick, 200);
    EXPECT_EQ(quick.MarginNs(), CPreciseSleeper::MIN_MARGIN_NS);

    CScriptedClock slow;
    slow.m_LatenessNs = 50 * MS;
    CPreciseSleeper late(slow);
    late.SleepFor(100 * MS);
    EXPECT_EQ(late.MarginNs(), CPreciseSleeper::MAX_MARGIN_NS);
}

TEST(PosixPreciseSleep, SleepShorterThanTheMarginWaitsOnTheClockAlone) {
    CScriptedClock clock;
    CPreciseSleeper sleeper(clock);
    const uint64_t before = clock.m_Now;
    sleeper.SleepFor(200000); // 0.2 ms, under the first margin of 0.75 ms
    EXPECT_TRUE(clock.m_Asked.empty());
    EXPECT_GE(clock.m_Now, before + 200000);
}

} // namespace
} // namespace backendtests
