// Fault: the kernel-mode driver reports itself closed after the port object was made (Part 4.1: every read
// then yields 0x00 and every write is skipped, without a report). The driver is closed at the dispatcher's
// Open, the first CreateFileW of an internal run: after the constructor's check and the infrared probe of
// Part 3.2, before the body's first register access.
#include "FaultSupport.h"

namespace tarnfaults {
namespace {

using kivu5::TestResult;

class Fault_DriverClosedAfterConstruction : public FaultTest {
protected:
    void CloseDriverAtOpen() {
        OnCall("CreateFileW", [this](unsigned n) {
            if (n == 1) {
                Sim().SetDriverInstalled(false);
            }
        });
    }
    // The register transfers of the run after the dispatcher's Open (the driver check comes first).
    static size_t TransfersAfterOpen() {
        return TraceFrom(AfterOpen(1), {"PortReadByte", "PortWriteByte"}).size();
    }
};

TEST_F(Fault_DriverClosedAfterConstruction, InternalRegisterTestReadsZerosAndPasses) {
    UseScenario(BuiltInAt600());
    CloseDriverAtOpen();
    kivu5::RunOutcome out = Run("InternalRegisterTest");
    // Part 5.1, failure handling: every read yields 0x00, so neither group can be 0xFF.
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(tarntest::EventNames(out.timeline), std::vector<std::string>());
    EXPECT_TRUE(EndsWithTestComplete(out));
    EXPECT_EQ(TransfersAfterOpen(), 0u); // eight driver checks answered 0, no transfer
    EXPECT_EQ(TraceFrom(AfterOpen(1), {"DriverOpened"}).size(), 8u);
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_EQ(Sim().CurrentBaud(0), RATE_BEFORE);
    EXPECT_LE(ElapsedMs(), SLACK_MS);
}

TEST_F(Fault_DriverClosedAfterConstruction, InternalControlSignalsTestFailsWith15MiscompareErrors) {
    UseScenario(BuiltInAt600());
    CloseDriverAtOpen();
    kivu5::RunOutcome out = Run("InternalControlSignalsTest");
    // Part 5.2, failure handling: v is 0, which matches only n = 0.
    EXPECT_EQ(out.result, TestResult::FAIL());
    std::vector<std::string> expected;
    const int expectedStatus[16] = {0, 2, 1, 3, 4, 6, 5, 7, 8, 10, 9, 11, 12, 14, 13, 15};
    for (int n = 1; n < 16; ++n) {
        expected.push_back(
            "event error MiscompareError {PortNumber:text=COM1, ValueRead:int=0, ExpectedValue:int=" +
            std::to_string(expectedStatus[n]) + "}");
    }
    expected.push_back("event error FailedControlSignalsTest {PortNumber:text=COM1}");
    EXPECT_EQ(tarntest::Describe(out.timeline, {"event"}), expected);
    EXPECT_EQ(tarntest::Count(out.timeline, "log 4 Miscompare on port"), 15u);
    EXPECT_TRUE(EndsWithTestComplete(out));
    EXPECT_EQ(TransfersAfterOpen(), 0u);
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_EQ(Sim().CurrentBaud(0), RATE_BEFORE);
    // Sixteen 100 ms settles, each MSR read after its own.
    EXPECT_GE(ElapsedMs(), 1600.0);
    EXPECT_LE(ElapsedMs(), 1600.0 + SLACK_MS);
}

TEST_F(Fault_DriverClosedAfterConstruction, InternalSendAndReceiveTestTimesOutAfter3sAtEachRateAndFails) {
    UseScenario(BuiltInAt600());
    CloseDriverAtOpen();
    // Register accesses are counted by the watch, and a poll in which virtual time stands still is ended
    // by it (the run would otherwise spin for ever, see the report of this test).
    CWatchedPortIo watch(Sim());
    tarnos::SetBackends(&Sim(), &watch);
    TraceOnly({"CreateFileW", "CloseHandle", "BuildCommDCBW", "PortReadByte", "PortWriteByte"});
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");

    // Part 5.3, failure handling: "with THRE never seen, such a port ends each supported rate with
    // TransmitTimeout after 3 s"; FailedSendRecieveTest once at the end; the saved rate is not put back.
    EXPECT_FALSE(watch.StoodStill()) << "the transmit wait never reached its 3000 ms deadline: "
                                     << out.exceptionMessage;
    EXPECT_EQ(out.result, TestResult::FAIL());
    std::vector<std::string> expected;
    for (uint32_t rate : SEND_RECEIVE_RATES) {
        expected.push_back(
            "event error TransmitTimeout {PortNumber:text=COM1, BaudRate:uint=" + std::to_string(rate) + "}");
    }
    expected.push_back("event error FailedSendRecieveTest {PortNumber:text=COM1}");
    EXPECT_EQ(tarntest::Describe(out.timeline, {"event"}), expected);
    EXPECT_EQ(tarntest::Percentages(out.timeline),
              std::vector<int>({0, 2, 13, 24, 35, 46, 57, 68, 79, 90, 100}));
    EXPECT_TRUE(EndsWithTestComplete(out));
    EXPECT_EQ(TransfersAfterOpen(), 0u);
    EXPECT_EQ(ConfiguredRates(AfterOpen(1)), std::vector<unsigned>()); // not restored on the FAIL path
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    // Nine rates of six 10 ms pauses and one 3000 ms wait (the deadline is "more than 3000 ms": 3001).
    EXPECT_GE(ElapsedMs(), 9 * (60.0 + 3000.0));
    EXPECT_LE(ElapsedMs(), 9 * (60.0 + 3001.0) + SLACK_MS);
}

} // namespace
} // namespace tarnfaults
