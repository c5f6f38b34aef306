// Fault: the device disappears in the middle of an external test, as a USB serial adapter pulled out of its
// socket. From then on every call on the open handle fails with ERROR_DEVICE_NOT_CONNECTED (CloseHandle still
// releases it); the module reads only the counts (Part 5.6) or ignores the results (Part 5.4), so the run
// ends with the findings the spec gives for bytes that never arrive, and RunTest still closes the port.
#include "FaultSupport.h"

namespace tarnfaults {
namespace {

using kivu5::TestResult;

class Fault_DevicePulled : public FaultTest {
protected:
    // Pulls the device before the nth WriteFile (or other call) after the dispatcher's Open, which is the
    // third CreateFileW of an external run (the two screens of Part 3.2 open and close it first).
    void PullBeforeBodyCall(const std::string& call, unsigned nth) {
        OnCall("CreateFileW", [this](unsigned n) { m_bodyStarted = n == 3; });
        OnCall(call, [this, nth](unsigned) {
            if (m_bodyStarted && ++m_bodyCalls == nth) {
                Sim().Disconnect(0);
            }
        });
    }

private:
    bool m_bodyStarted = false;
    unsigned m_bodyCalls = 0;
};

TEST_F(Fault_DevicePulled,
       AtThe10thWriteOfExternalLoopbackEndsFailWithShortWriteAndNothingReadAndClosesThePort) {
    UseScenario(BuiltInAt600());
    PullBeforeBodyCall("WriteFile", 10);
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");

    // Part 5.6: the first accepted default rate is 300 (110 and 600 are refused, Part 5.5). Nine writes of 8
    // bytes got out (72), the 10th to 32nd wrote nothing: WriteCompletedShort, then the read fails with a
    // count of 0: IncorrectCharCount; nothing to compare; the pass is FAIL and the run stops there.
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_FALSE(out.exception);
    EXPECT_EQ(
        tarntest::EventNames(out.timeline),
        std::vector<std::string>({"InvalidBaudRateConfig", "InvalidBaudRateConfig", "InvalidBaudRateConfig",
                                  "WriteCompletedShort", "IncorrectCharCount"}));
    EXPECT_EQ(tarntest::Count(out.timeline, "event error WriteCompletedShort {PortNumber:text=COM1, "
                                            "TotalSent:uint=72, TotalExpected:int=256}"),
              1u);
    EXPECT_EQ(tarntest::Count(out.timeline, "event error IncorrectCharCount {PortNumber:text=COM1, "
                                            "DataRead:uint=0, DataWritten:int=256}"),
              1u);
    EXPECT_EQ(tarntest::Count(out.timeline, "log 4 Port: COM1 write completed short"), 1u);
    EXPECT_EQ(tarntest::Count(out.timeline, "log 4 Port: COM1 Incorrect char count"), 1u);
    EXPECT_EQ(tarntest::Percentages(out.timeline), std::vector<int>({0, 2, 100, 100}));
    EXPECT_TRUE(EndsWithTestComplete(out));

    // The 32 writes and the one read are all made (the module looks only at the counts), then the restore
    // of step 9 is tried: its GetCommState fails on the pulled device, so the rate cannot be put back.
    const size_t body = AfterOpen(3);
    EXPECT_EQ(TraceFrom(body, {"WriteFile"}).size(), 32u);
    EXPECT_EQ(TraceFrom(body, {"ReadFile"}).size(), 1u);
    EXPECT_EQ(ConfiguredRates(body), std::vector<unsigned>({300}));
    std::vector<std::string> afterRead = TraceFrom(body, {"ReadFile", "GetCommState", "CloseHandle"});
    ASSERT_EQ(afterRead.size(), 4u); // Configure(300)'s GetCommState, the read, the restore, the close
    EXPECT_EQ(afterRead[1].rfind("ReadFile(", 0), 0u);
    EXPECT_NE(afterRead[1].find("-> FALSE"), std::string::npos) << afterRead[1];
    EXPECT_EQ(afterRead[2].rfind("GetCommState(", 0), 0u);
    EXPECT_NE(afterRead[2].find("-> FALSE"), std::string::npos) << afterRead[2];
    EXPECT_EQ(afterRead[3].rfind("CloseHandle(", 0), 0u);
    EXPECT_NE(afterRead[3].find("-> TRUE"), std::string::npos) << afterRead[3];

    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_EQ(Sim().CurrentBaud(0), 300u); // the restore could not reach the device

    // No hang: the modem screen, 10 ms, nine 8-byte writes at 300 bit/s (the failing ones return at once),
    // the 1000 ms wait.
    EXPECT_LE(ElapsedMs(), DetectModemMs() + 10.0 + CharsMs8N1(72, 300) + 1000.0 + SLACK_MS);
    EXPECT_GE(ElapsedMs(), DetectModemMs() + 10.0 + CharsMs8N1(72, 300) + 1000.0);
}

TEST_F(Fault_DevicePulled, ThePluggedBackDeviceOpensAgainAndTheNextRunInTheSameProcessPasses) {
    UseScenario(BuiltInAt600());
    SetParameter("BaudRates", kivu5::Value::Uint32Array({9600}));
    PullBeforeBodyCall("WriteFile", 10);
    ASSERT_EQ(Run("ExternalLoopbackTest").result, TestResult::FAIL());
    ASSERT_EQ(Sim().OpenHandleCount(), 0u);

    // While the device is gone, the screens' Open fails with ERROR_FILE_NOT_FOUND: not testable, no report.
    kivu5::RunOutcome gone = Run("ExternalLoopbackTest");
    EXPECT_EQ(gone.result, TestResult::NOTSUPPORTED());
    EXPECT_EQ(tarntest::EventNames(gone.timeline), std::vector<std::string>({"NotTestable"}));
    EXPECT_TRUE(EndsWithTestComplete(gone));

    Sim().Reconnect(0);
    kivu5::RunOutcome back = Run("ExternalLoopbackTest");
    EXPECT_EQ(back.result, TestResult::PASS());
    EXPECT_EQ(tarntest::EventNames(back.timeline), std::vector<std::string>());
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_EQ(Sim().CurrentBaud(0), 9600u); // the rate the pulled run left, put back after the pass
}

TEST_F(Fault_DevicePulled,
       AtTheFirstModemStatusOfExternalRegisterEndsFailWithBothLinesStuckLowAndClosesThePort) {
    UseScenario(BuiltInAt600());
    PullBeforeBodyCall("GetCommModemStatus", 1);
    kivu5::RunOutcome out = Run("ExternalRegisterTest");

    // Part 5.4: the results of GetModemStatus are not examined; a status that cannot be read counts as all
    // lines clear (docs/decisions.md), so steps 2 and 4 find DSR and CTS clear with DTR and RTS on.
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(tarntest::EventNames(out.timeline), std::vector<std::string>({"DTR_StuckLow", "CTS_STuckLow"}));
    EXPECT_TRUE(EndsWithTestComplete(out));
    const size_t body = AfterOpen(3);
    EXPECT_EQ(TraceFrom(body, {"GetCommModemStatus"}).size(), 4u); // always all four steps
    // Step 7's Configure(saved rate) is tried: its GetCommState fails on the pulled device, so it goes no
    // further (Part 4.2, Configure step 2).
    EXPECT_EQ(ConfiguredRates(body), std::vector<unsigned>({9600}));
    std::vector<std::string> states = TraceFrom(body, {"GetCommState"});
    ASSERT_EQ(states.size(), 3u); // Configure(9600), GetState, the restore
    EXPECT_NE(states[1].find("-> TRUE"), std::string::npos) << states[1];
    EXPECT_NE(states[2].find("-> FALSE"), std::string::npos) << states[2];
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_EQ(Sim().CurrentBaud(0), 9600u); // and cannot reach the pulled device
    // No hang: the modem screen and four 10 ms settles.
    EXPECT_LE(ElapsedMs(), DetectModemMs() + 4 * 10.0 + SLACK_MS);
}

TEST_F(Fault_DevicePulled, BetweenTheScreensAndTheOpenEndsCannotRunWithUnableToOpenPortNotReported) {
    UseScenario(BuiltInAt600());
    // Pulled just before the dispatcher's own Open (the third CreateFileW): ERROR_FILE_NOT_FOUND.
    OnCall("CreateFileW", [this](unsigned n) {
        if (n == 3) {
            Sim().Disconnect(0);
        }
    });
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    // Part 3.1 step 13: ReportOpenFailure, then CANNOTRUN; the body never runs.
    EXPECT_EQ(out.result, TestResult::CANNOTRUN());
    EXPECT_EQ(tarntest::EventNames(out.timeline), std::vector<std::string>({"UnableToOpenPort"}));
    EXPECT_EQ(tarntest::Count(out.timeline, "log 3 Port COM1can't open port."), 1u);
    EXPECT_TRUE(EndsWithTestComplete(out));
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_EQ(Sim().CurrentBaud(0), RATE_BEFORE); // the modem screen put it back before the pull
    EXPECT_LE(ElapsedMs(), DetectModemMs() + SLACK_MS);
}

} // namespace
} // namespace tarnfaults
