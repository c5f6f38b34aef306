// Fault: a common-services exception (qen::AssertionFailure) inside a run. Part 3.1: only TestResult is
// caught inside RunTest; any other exception leaves it with nothing more reported, the port wrapper's
// destructor still closes the port, and the framework reports the run EXITEDABNORMALLY with the message.
// The next run in the same process must work. Three sources of the assertion:
//  - below the module, inside a Win32 call of a body (thrown from the simulation's call hook, which runs
//    inside the seam call: an assertion of the OS side, as a driver's checked build raises);
//  - below the module, inside a register access of a body (thrown from the kernel-mode services backend);
//  - the module's own, Part 4.2's Open on port number 0xFFFF (a ComPortNumber wider than 16 bits is cut to
//    its low 16 bits, Part 3.1), in the screen of an external test and in the dispatcher for an internal one.
#include "FaultSupport.h"

namespace tarnfaults {
namespace {

using kivu5::TestResult;

const char* const DRIVER_ASSERTION = "Assertion failed: queued <= capacity (ComDriver:42)";
const char* const LIBRARY_ASSERTION = "Assertion failed: port < 0x10000 (TarnSrvc:7)";

class Fault_AssertionInsideARun : public FaultTest {
protected:
    bool m_body = false; // between the dispatcher's Open and the end of the run
    unsigned m_bodyWrites = 0;
};

TEST_F(Fault_AssertionInsideARun,
       FromTheFifthWriteOfExternalLoopbackExitsAbnormallyClosesThePortAndTheNextRunPasses) {
    UseScenario(BuiltInAt600());
    bool armed = true;
    OnCall("CreateFileW", [this, &armed](unsigned n) { m_body = armed && n == 3; });
    OnCall("WriteFile", [this](unsigned) {
        if (m_body && ++m_bodyWrites == 5) {
            throw qen::AssertionFailure("ComDriver", 42, "queued <= capacity");
        }
    });
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");

    EXPECT_EQ(out.result, TestResult::EXITEDABNORMALLY());
    EXPECT_TRUE(out.exception);
    EXPECT_EQ(out.exceptionMessage, DRIVER_ASSERTION);
    EXPECT_FALSE(ShowsTestComplete(out)); // Part 3.1, state and lifecycle: no TestComplete on this way out
    EXPECT_EQ(tarntest::Percentages(out.timeline), std::vector<int>({0, 2}));
    EXPECT_EQ(tarntest::EventNames(out.timeline),
              std::vector<std::string>(
                  {"InvalidBaudRateConfig", "InvalidBaudRateConfig", "InvalidBaudRateConfig"}));
    // The destructor's CloseHandle is the run's last port call.
    std::vector<std::string> closes = TraceFrom(AfterOpen(3), {"WriteFile", "CloseHandle"});
    ASSERT_EQ(closes.size(), 5u); // four writes that went out, the close (the fifth never reached the trace)
    EXPECT_EQ(closes.back().rfind("CloseHandle(", 0), 0u);
    EXPECT_NE(closes.back().find("-> TRUE"), std::string::npos);
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_EQ(Sim().CurrentBaud(0), 300u); // nothing on this way out puts the rate back
    EXPECT_LE(ElapsedMs(), DetectModemMs() + 10.0 + CharsMs8N1(32, 300) + SLACK_MS);

    // The same process, the next run: the module's state is sound and the port opens again.
    armed = false;
    kivu5::RunOutcome next = Run("ExternalLoopbackTest");
    EXPECT_EQ(next.result, TestResult::PASS());
    EXPECT_FALSE(next.exception);
    EXPECT_TRUE(EndsWithTestComplete(next));
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_EQ(Sim().CurrentBaud(0), 300u); // the rate the aborted run left, put back after each pass
    kivu5::RunOutcome other = Run("ExternalRegisterTest");
    EXPECT_EQ(other.result, TestResult::PASS());
}

TEST_F(Fault_AssertionInsideARun,
       FromARegisterAccessOfInternalSendAndReceiveExitsAbnormallyClosesThePortAndTheNextRunPasses) {
    UseScenario(BuiltInAt600());
    CWatchedPortIo watch(Sim());
    bool armed = true;
    unsigned divisors = 0;
    bool dlab = false;
    // At the third divisor written (4800 bit/s), before it reaches the UART.
    watch.BeforeAccess([&](bool write, unsigned short port, unsigned char value) {
        if (!write) {
            return;
        }
        if (port == COM1_BASE + UART_LCR) {
            dlab = (value & UART_LCR_DLAB) != 0;
        } else if (port == COM1_BASE + UART_DLL && dlab && armed && ++divisors == 3) {
            throw qen::AssertionFailure("TarnSrvc", 7, "port < 0x10000");
        }
    });
    tarnos::SetBackends(&Sim(), &watch);
    TraceOnly({"CreateFileW", "CloseHandle", "BuildCommDCBW"});
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");

    EXPECT_EQ(out.result, TestResult::EXITEDABNORMALLY());
    EXPECT_EQ(out.exceptionMessage, LIBRARY_ASSERTION);
    EXPECT_FALSE(ShowsTestComplete(out));
    EXPECT_EQ(tarntest::Percentages(out.timeline), std::vector<int>({0, 2, 13}));
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_EQ(Calls("CloseHandle"), 1u);                   // the destructor's
    EXPECT_EQ(ConfiguredRates(), std::vector<unsigned>()); // nothing restores on this way out
    EXPECT_LE(ElapsedMs(), SendReceiveRateMs(1200) + SendReceiveRateMs(2400) + 5 * 10.0 + SLACK_MS);

    armed = false;
    kivu5::RunOutcome next = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(next.result, TestResult::PASS());
    EXPECT_TRUE(EndsWithTestComplete(next));
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_EQ(ConfiguredRates(), std::vector<unsigned>({RATE_BEFORE}));
}

// Part 4.2, Open step 1, reached with ComPortNumber 0x1FFFF (cut to 0xFFFF): for an external test in the
// testability screen, for an internal test at the dispatcher's Open. In both the port was never opened.
class Fault_PortNumberFFFF : public FaultTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(Fault_PortNumberFFFF, OpenAssertsTheRunExitsAbnormallyNoHandleIsLeftAndTheNextRunPasses) {
    tarnsim::Scenario scenario = BuiltInAt600();
    tarnsim::PortConfig wide;
    wide.com = 0x1FFFFu;
    wide.io = std::vector<uint32_t>{0x2F8};
    scenario.ports.push_back(wide);
    UseScenario(scenario);
    kivu5::RunOutcome out = Run(GetParam(), 1);

    EXPECT_EQ(out.result, TestResult::EXITEDABNORMALLY());
    const std::string prefix = "Assertion failed: m_PortNumber != INVALID_PORT_NUMBER (SerialPort:";
    EXPECT_EQ(out.exceptionMessage.rfind(prefix, 0), 0u) << out.exceptionMessage;
    EXPECT_EQ(out.exceptionMessage.back(), ')');
    EXPECT_EQ(Said(out),
              std::vector<std::string>({"log 1 ==>PORT NUMBER: 65535",
                                        "progress ValidityCheck {PortNumber:text=COM65535}", "percent 0"}));
    EXPECT_EQ(Calls("CreateFileW"), 0u);
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);

    kivu5::RunOutcome next = Run(GetParam(), 0);
    EXPECT_EQ(next.result, TestResult::PASS());
    EXPECT_TRUE(EndsWithTestComplete(next));
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_EQ(Sim().CurrentBaud(0), RATE_BEFORE);
}

INSTANTIATE_TEST_SUITE_P(ExternalAndInternal, Fault_PortNumberFFFF,
                         ::testing::Values("ExternalRegisterTest", "InternalRegisterTest"));

} // namespace
} // namespace tarnfaults
