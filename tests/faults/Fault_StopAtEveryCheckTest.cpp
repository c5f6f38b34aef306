// Fault: a stop request at every checkForStop() point of every test. For each of the five tests on the
// built-in scenario, StopAfterChecks(k) for k = 0 .. N, where N is the number of checks a full run makes:
// k < N ends USERABORTED at the (k+1)th check, k = N runs to PASS. Every run shows TestComplete at 100 %,
// leaves the port closed and the driver's rate where it was (Part 3.2's modem screen, Part 5.3 on
// USERABORTED and Part 5.6 after a stop during the writes all put back the saved rate).
//
// Checks of a full run on the built-in port (all twelve rates settable):
//   every test: 1, the dispatcher's, after the screens and before Open (Part 3.1 step 11);
//   InternalSendAndReceiveTest: + 1 per rate before its first byte, nine rates (Part 5.3 step 3);
//   ExternalLoopbackTest: + 1 after each of the 32 writes of each of the twelve passes (Part 5.6 step 4.2);
//   the other three bodies poll no stop.
#include "FaultSupport.h"

#include <stdexcept>

namespace tarnfaults {
namespace {

using kivu5::TestResult;

struct Sweep {
    const char* test;
    unsigned checks; // N: the checks of a full run
    bool external;   // opened by the two screens before the dispatcher's Open
};

const Sweep SWEEPS[] = {
    {"InternalRegisterTest", 1, false},           {"InternalControlSignalsTest", 1, false},
    {"InternalSendAndReceiveTest", 1 + 9, false}, {"ExternalRegisterTest", 1, true},
    {"ExternalLoopbackTest", 1 + 12 * 32, true},
};

const Sweep& SweepOf(const std::string& test) {
    for (const Sweep& sweep : SWEEPS) {
        if (test == sweep.test) {
            return sweep;
        }
    }
    throw std::out_of_range(test);
}

// Virtual time a run may take when stopped at check number `check` (1-based; checks + 1: not stopped),
// from the spec's waits: the screens, then what the body does up to that check.
double BoundMs(const std::string& test, unsigned check) {
    const Sweep& sweep = SweepOf(test);
    double ms = sweep.external ? DetectModemMs() : 0.0;
    if (check == 1) {
        return ms + SLACK_MS; // the dispatcher's check: nothing of the body
    }
    if (test == "InternalControlSignalsTest") {
        ms += 16 * 100.0;
    } else if (test == "ExternalRegisterTest") {
        ms += 4 * 10.0;
    } else if (test == "InternalSendAndReceiveTest") {
        // Rates before the stopped one run fully; the stopped one only programs the UART (six pauses).
        unsigned full = check - 2 < 9 ? check - 2 : 9;
        for (unsigned i = 0; i < full; ++i) {
            ms += SendReceiveRateMs(SEND_RECEIVE_RATES[i]);
        }
        if (check - 2 < 9) {
            ms += 60.0;
        }
    } else if (test == "ExternalLoopbackTest") {
        unsigned writes = check - 1; // writes made before the stopping check
        for (size_t pass = 0; pass < DEFAULT_LOOPBACK_RATES.size() && writes > 0; ++pass) {
            const double rate = DEFAULT_LOOPBACK_RATES[pass];
            if (writes >= 32 && check <= sweep.checks) {
                // A pass stopped at its last write ends without the 1000 ms wait; a full pass has it.
                ms += writes == 32 ? 10.0 + CharsMs8N1(256, rate) : LoopbackPassMs(rate);
            } else if (writes >= 32) {
                ms += LoopbackPassMs(rate);
            } else {
                ms += 10.0 + CharsMs8N1(8.0 * writes, rate);
            }
            writes = writes >= 32 ? writes - 32 : 0;
        }
    }
    return ms + SLACK_MS;
}

class Fault_StopAtEveryCheck : public FaultTest {
protected:
    // One run of the test with the stop after k checks; returns false after the first failed assertion
    // (so a sweep reports the first k that goes wrong, not hundreds).
    ::testing::AssertionResult RunStoppedAfter(const std::string& test, unsigned k) {
        const Sweep& sweep = SweepOf(test);
        ResetModuleState();
        UseScenario(BuiltInAt600());
        TraceOnly({"CreateFileW", "CloseHandle", "BuildCommDCBW"});
        StopAfterChecks(static_cast<long>(k));
        kivu5::RunOutcome out = Run(test);
        const bool stopped = k < sweep.checks;
        std::string where = test + " stopped after " + std::to_string(k) + " checks: ";

        if (out.result != (stopped ? TestResult::USERABORTED() : TestResult::PASS())) {
            return ::testing::AssertionFailure() << where << "result " << out.result.name();
        }
        if (kivu5::Framework::stopChecks() != (stopped ? k + 1 : sweep.checks)) {
            return ::testing::AssertionFailure() << where << kivu5::Framework::stopChecks() << " checks made";
        }
        if (!EndsWithTestComplete(out)) {
            return ::testing::AssertionFailure() << where << "no TestComplete at 100";
        }
        if (Sim().OpenHandleCount() != 0) {
            return ::testing::AssertionFailure() << where << "port left open";
        }
        if (Sim().CurrentBaud(0) != RATE_BEFORE) {
            return ::testing::AssertionFailure() << where << "rate left at " << Sim().CurrentBaud(0);
        }
        // The dispatcher opens the port only after its own check.
        const unsigned opens = (sweep.external ? 2u : 0u) + (k == 0 ? 0u : 1u);
        if (Calls("CreateFileW") != opens || Calls("CloseHandle") != opens) {
            return ::testing::AssertionFailure()
                   << where << Calls("CreateFileW") << " opens, " << Calls("CloseHandle") << " closes";
        }
        if (stopped && k > 0) {
            // A stop inside a body: its restoring Configure is the last one of the run.
            std::vector<unsigned> rates = ConfiguredRates(AfterOpen(opens));
            if (rates.empty() || rates.back() != RATE_BEFORE) {
                return ::testing::AssertionFailure() << where << "the saved rate was not configured again";
            }
            if (tarntest::Count(out.timeline, "log 2 Port: COM1 User aborted") != 1) {
                return ::testing::AssertionFailure() << where << "no \"User aborted\" log";
            }
        }
        if (k == 0 && tarntest::Count(out.timeline, "log 2 Port COM1: User aborted") != 1) {
            return ::testing::AssertionFailure() << where << "no dispatcher's \"User aborted\" log";
        }
        const double bound = BoundMs(test, k + 1);
        if (ElapsedMs() > bound) {
            return ::testing::AssertionFailure() << where << ElapsedMs() << " ms > " << bound << " ms";
        }
        return ::testing::AssertionSuccess();
    }

    void SweepAll(const std::string& test, unsigned from, unsigned to) {
        for (unsigned k = from; k <= to; ++k) {
            ASSERT_TRUE(RunStoppedAfter(test, k));
        }
    }
};

TEST_F(Fault_StopAtEveryCheck, InternalRegisterTestAtItsOneCheckAndBeyond) {
    SweepAll("InternalRegisterTest", 0, SweepOf("InternalRegisterTest").checks);
}

TEST_F(Fault_StopAtEveryCheck, InternalControlSignalsTestAtItsOneCheckAndBeyond) {
    SweepAll("InternalControlSignalsTest", 0, SweepOf("InternalControlSignalsTest").checks);
}

// The eleven runs of the internal send and receive test (millions of register polls each), in two parts.
TEST_F(Fault_StopAtEveryCheck, InternalSendAndReceiveTestAtTheDispatcherAndBeforeRates1To5) {
    SweepAll("InternalSendAndReceiveTest", 0, 5);
}
TEST_F(Fault_StopAtEveryCheck, InternalSendAndReceiveTestBeforeRates6To9AndBeyond) {
    SweepAll("InternalSendAndReceiveTest", 6, SweepOf("InternalSendAndReceiveTest").checks);
}

TEST_F(Fault_StopAtEveryCheck, ExternalRegisterTestAtItsOneCheckAndBeyond) {
    SweepAll("ExternalRegisterTest", 0, SweepOf("ExternalRegisterTest").checks);
}

// The 386 runs of the external loopback test, in four parts (each part its own CTest test, so none runs
// long under the sanitizers).
TEST_F(Fault_StopAtEveryCheck, ExternalLoopbackTestAtTheDispatcherAndTheWritesOfPasses1To3) {
    SweepAll("ExternalLoopbackTest", 0, 3 * 32);
}
TEST_F(Fault_StopAtEveryCheck, ExternalLoopbackTestAtTheWritesOfPasses4To6) {
    SweepAll("ExternalLoopbackTest", 3 * 32 + 1, 6 * 32);
}
TEST_F(Fault_StopAtEveryCheck, ExternalLoopbackTestAtTheWritesOfPasses7To9) {
    SweepAll("ExternalLoopbackTest", 6 * 32 + 1, 9 * 32);
}
TEST_F(Fault_StopAtEveryCheck, ExternalLoopbackTestAtTheWritesOfPasses10To12AndBeyond) {
    SweepAll("ExternalLoopbackTest", 9 * 32 + 1, SweepOf("ExternalLoopbackTest").checks);
}

// The stopped pass of Part 5.6 shows its own rate in the final progress (step 5), and a stop in Part 5.3
// ends the loop without the stopped row's progress.
TEST_F(Fault_StopAtEveryCheck, AStoppedLoopbackPassShowsItsRateLastAndAStoppedSendReceiveRowShowsNoProgress) {
    ASSERT_TRUE(RunStoppedAfter("ExternalLoopbackTest", 1 + 32 + 5)); // the 6th write of the 2nd pass
    std::vector<std::string> progress = tarntest::Describe(kivu5::Framework::timeline(), {"progress"});
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ(progress[progress.size() - 2], "progress LoopbackProgress {BaudRate:int=1200}");

    ASSERT_TRUE(RunStoppedAfter("InternalSendAndReceiveTest", 1 + 3)); // before the 4th rate's first byte
    EXPECT_EQ(tarntest::Describe(kivu5::Framework::timeline(), {"progress", "percent"}),
              std::vector<std::string>({"progress ValidityCheck {PortNumber:text=COM1}", "percent 0",
                                        "progress PrgsSendReceive {BaudRate:uint=1200}", "percent 2",
                                        "progress PrgsSendReceive {BaudRate:uint=2400}", "percent 13",
                                        "progress PrgsSendReceive {BaudRate:uint=4800}", "percent 24",
                                        "progress TestComplete {PortNumber:text=COM1}", "percent 100"}));
}

} // namespace
} // namespace tarnfaults
