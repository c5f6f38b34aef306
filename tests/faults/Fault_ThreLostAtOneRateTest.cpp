// Fault: the transmitter's THRE bit never sets while the UART runs at one rate of Part 5.3's table and works
// again at the next, as a baud-rate generator that stalls at one divisor. A watch on the register writes
// switches the simulated UART's noThre on when the divisor latch gets 48 (2400 bit/s) and off again when it
// gets any other divisor.
#include "FaultSupport.h"

namespace tarnfaults {
namespace {

using kivu5::TestResult;

const unsigned char STALLING_DIVISOR = 48; // 115200 / 2400
const uint32_t STALLING_RATE = 2400;

class Fault_ThreLostAtOneRate : public FaultTest {
protected:
    // The divisor latch is offset 0 while LCR's DLAB bit is set (Part 4.1).
    void StallThreAtDivisor(CWatchedPortIo& watch) {
        watch.OnWrite([this](unsigned short port, unsigned char value) {
            if (port == COM1_BASE + UART_LCR) {
                m_dlab = (value & UART_LCR_DLAB) != 0;
            } else if (port == COM1_BASE + UART_DLL && m_dlab) {
                Sim().Uart(0).noThre = value == STALLING_DIVISOR;
                ++m_divisorsProgrammed;
            }
        });
    }
    unsigned DivisorsProgrammed() const { return m_divisorsProgrammed; }

private:
    bool m_dlab = false;
    unsigned m_divisorsProgrammed = 0;
};

TEST_F(Fault_ThreLostAtOneRate, At2400OneTransmitTimeoutTheOtherRatesPassFailedSendRecieveTestAndNoRestore) {
    UseScenario(BuiltInAt600());
    CWatchedPortIo watch(Sim());
    StallThreAtDivisor(watch);
    tarnos::SetBackends(&Sim(), &watch);
    TraceOnly({"CreateFileW", "CloseHandle", "BuildCommDCBW"});
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");

    // Part 5.3: the transmit wait at 2400 gives up after 3000 ms with no stop pending: TransmitTimeout, FAIL
    // for that rate only; the loop goes on, the other eight rates pass, the summary event comes once at the
    // end and the saved rate is not configured again on this path.
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(DivisorsProgrammed(), 9u);
    std::vector<std::string> body;
    const int percents[9] = {2, 13, 24, 35, 46, 57, 68, 79, 90};
    for (size_t row = 0; row < SEND_RECEIVE_RATES.size(); ++row) {
        if (SEND_RECEIVE_RATES[row] == STALLING_RATE) {
            body.push_back("event error TransmitTimeout {PortNumber:text=COM1, BaudRate:uint=2400}");
        }
        body.push_back("progress PrgsSendReceive {BaudRate:uint=" + std::to_string(SEND_RECEIVE_RATES[row]) +
                       "}");
        body.push_back("percent " + std::to_string(percents[row]));
    }
    body.push_back("event error FailedSendRecieveTest {PortNumber:text=COM1}");
    body.push_back("log 4 Port: COM1 failed send and receive test");
    std::vector<std::string> expected = {"log 1 ==>PORT NUMBER: 1",
                                         "progress ValidityCheck {PortNumber:text=COM1}", "percent 0"};
    expected.insert(expected.end(), body.begin(), body.end());
    expected.push_back("progress TestComplete {PortNumber:text=COM1}");
    expected.push_back("percent 100");
    EXPECT_EQ(Said(out), expected);

    EXPECT_EQ(ConfiguredRates(AfterOpen(1)), std::vector<unsigned>()); // saved rate not restored
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_EQ(Sim().CurrentBaud(0), RATE_BEFORE); // the OS driver's rate was never changed
    EXPECT_FALSE(Sim().Uart(0).noThre);           // 115200 cleared it again

    // No hang, and the 3 s were really waited: eight rates that pass, one of six pauses and 3000 ms.
    double bound = 60.0 + 3001.0;
    double floor = 60.0 + 3000.0;
    for (uint32_t rate : SEND_RECEIVE_RATES) {
        if (rate != STALLING_RATE) {
            bound += SendReceiveRateMs(rate);
            floor += 60.0 + CharsMs8N2(256, rate);
        }
    }
    EXPECT_GE(ElapsedMs(), floor);
    EXPECT_LE(ElapsedMs(), bound + SLACK_MS);
}

TEST_F(Fault_ThreLostAtOneRate, AStopPendingWhenTheWaitAt2400GivesUpEndsUserAbortedAndRestoresTheRate) {
    UseScenario(BuiltInAt600());
    CWatchedPortIo watch(Sim());
    StallThreAtDivisor(watch);
    tarnos::SetBackends(&Sim(), &watch);
    TraceOnly({"CreateFileW", "CloseHandle", "BuildCommDCBW"});
    // Checks: the dispatcher's, 1200's, 2400's before its first byte; the 4th, at the time-out, answers true.
    StopAfterChecks(3);
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    // Part 5.3, timeout handling: USERABORTED and no TransmitTimeout; the loop ends without the row's
    // progress; the result is not FAIL, so the saved rate is configured again.
    EXPECT_EQ(out.result, TestResult::USERABORTED());
    EXPECT_EQ(tarntest::EventNames(out.timeline), std::vector<std::string>());
    EXPECT_EQ(tarntest::Count(out.timeline, "log 2 Port: COM1 User aborted"), 1u);
    EXPECT_EQ(tarntest::Percentages(out.timeline), std::vector<int>({0, 2, 100}));
    EXPECT_EQ(kivu5::Framework::stopChecks(), 4u);
    EXPECT_EQ(ConfiguredRates(AfterOpen(1)), std::vector<unsigned>({RATE_BEFORE}));
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_LE(ElapsedMs(), SendReceiveRateMs(1200) + 60.0 + 3001.0 + SLACK_MS);
}

} // namespace
} // namespace tarnfaults
