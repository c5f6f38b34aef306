// Part 5.2: the internal control signals test (test ID 1) drives the sixteen MCR combinations in internal
// loopback and compares MSR >> 4 with n with its bits 0 and 1 exchanged.
#include "DiagnosticsSupport.h"

namespace tarndiag {
namespace {

using kivu5::TestResult;

// The expected-status table of Part 5.2, written out.
const int EXPECTED[16] = {0, 2, 1, 3, 4, 6, 5, 7, 8, 10, 9, 11, 12, 14, 13, 15};

std::string Miscompare(int read, int expected) {
    return "event error MiscompareError {PortNumber:text=COM1, ValueRead:int=" + std::to_string(read) +
           ", ExpectedValue:int=" + std::to_string(expected) + "}";
}

class Part5_2_InternalControlSignalsTest : public DiagTest {
protected:
    kivu5::RunOutcome RunWithMsr(tarnsim::UartConfig::Msr msr) {
        tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
        scenario.ports[0].uart.msr = msr;
        Use(scenario);
        return Run("InternalControlSignalsTest");
    }

    // The body's MSR reads, as MSR >> 4.
    static std::vector<int> MsrUpperBitsRead() {
        std::vector<int> values;
        for (const tarnos::TraceEntry& e : BodyEntries({"PortReadByte"})) {
            if (e.args.at(0) == Addr(UART_MSR)) {
                values.push_back(std::stoi(e.result.substr(e.result.find(' ') + 1), nullptr, 16) >> 4);
            }
        }
        return values;
    }
};

TEST_F(Part5_2_InternalControlSignalsTest, NoIoBaseAddressIsNotSupportedAndNoRegisterIsTouched) {
    tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
    scenario.ports[0].io.reset();
    Use(scenario);
    kivu5::RunOutcome out = Run("InternalControlSignalsTest");
    EXPECT_EQ(out.result, TestResult::NOTSUPPORTED());
    EXPECT_EQ(RegisterTrace(), std::vector<std::string>());
    EXPECT_EQ(BodyOps({"Sleep"}), std::vector<std::string>());
    EXPECT_EQ(tarntest::EventNames(out.timeline), std::vector<std::string>());
    EXPECT_EQ(tarntest::Count(out.timeline, "log 4 Port failed Control Signals test."), 0u);
}

TEST_F(Part5_2_InternalControlSignalsTest,
       MsrAlwaysZeroGivesFifteenMiscomparesAndOneFailedControlSignalsTest) {
    kivu5::RunOutcome out = RunWithMsr(tarnsim::UartConfig::Msr::Zero);
    EXPECT_EQ(out.result, TestResult::FAIL());
    std::vector<std::string> body;
    for (int n = 1; n < 16; ++n) {
        body.push_back(Miscompare(0, EXPECTED[n]));
        body.push_back("log 4 Miscompare on port");
    }
    body.push_back("event error FailedControlSignalsTest {PortNumber:text=COM1}");
    body.push_back("log 4 Port failed Control Signals test.");
    EXPECT_EQ(Said(out), Framed(body));
}

TEST_F(Part5_2_InternalControlSignalsTest, SwappedLoopbackMismatchesExactlyWhereBits0And1Differ) {
    kivu5::RunOutcome out = RunWithMsr(tarnsim::UartConfig::Msr::Swap);
    EXPECT_EQ(out.result, TestResult::FAIL());
    std::vector<std::string> body;
    for (int n : {1, 2, 5, 6, 9, 10, 13, 14}) {
        body.push_back(Miscompare(n, EXPECTED[n])); // DTR->CTS, RTS->DSR: MSR >> 4 reads n itself
        body.push_back("log 4 Miscompare on port");
    }
    body.push_back("event error FailedControlSignalsTest {PortNumber:text=COM1}");
    body.push_back("log 4 Port failed Control Signals test.");
    EXPECT_EQ(Said(out), Framed(body));
    EXPECT_EQ(tarntest::EventNames(out.timeline).size(), 8u + 1u); // k mismatches raise k + 1 errors
}

TEST_F(Part5_2_InternalControlSignalsTest, CorrectUartPassesWithNoEventAndLeavesMcr1FAndIer0) {
    Use(tarnsim::Scenario::BuiltIn());
    Sim().WriteByte(COM1_BASE + UART_IER, 0x0F); // interrupts on, as a driver may leave them
    kivu5::RunOutcome out = Run("InternalControlSignalsTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed({}));
    EXPECT_EQ(Sim().UartRegister(0, UART_MCR), 0x1F);
    EXPECT_EQ(Sim().UartRegister(0, UART_IER), 0x00);
    EXPECT_EQ(MsrUpperBitsRead(), std::vector<int>(std::begin(EXPECTED), std::end(EXPECTED)));
}

TEST_F(Part5_2_InternalControlSignalsTest, LoopbackOnThenSixteenMcrWritesEachFollowedBy100msThenOneMsrRead) {
    Use(tarnsim::Scenario::BuiltIn());
    Sim().WriteByte(COM1_BASE + UART_MCR, 0x0B); // DTR, RTS and OUT2 on before the test
    kivu5::RunOutcome out = Run("InternalControlSignalsTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    // Step 2: read, OR 0x10, write back (other bits kept for the moment); step 3: IER off.
    std::vector<std::string> expected = {RV(UART_MCR, 0x0B), W(UART_MCR, 0x1B), W(UART_IER, 0x00)};
    for (int n = 0; n < 16; ++n) {
        expected.push_back(W(UART_MCR, static_cast<unsigned>(0x10 + n)));
        expected.push_back(SleepOp(100));
        expected.push_back(R(UART_MSR));
    }
    std::vector<std::string> ops = BodyRegisterOps(false, true);
    ASSERT_FALSE(ops.empty());
    ops[0] = BodyRegisterOps(true, true)[0]; // the MCR value read is part of the expectation
    EXPECT_EQ(ops, expected);
}

TEST_F(Part5_2_InternalControlSignalsTest, SixteenWaitsMakeTheTestLastAtLeast1600ms) {
    Use(tarnsim::Scenario::BuiltIn());
    kivu5::RunOutcome out = Run("InternalControlSignalsTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_GE(ElapsedMs(), 1600.0);
    EXPECT_LT(ElapsedMs(), 1610.0); // and nothing else waits
}

TEST_F(Part5_2_InternalControlSignalsTest, ReadsThatFailAsZeroMatchOnlyCombinationZero) {
    Use(tarnsim::Scenario::BuiltIn());
    AtOpen(1, [this] { Sim().SetDriverInstalled(false); }); // after the port object was built
    kivu5::RunOutcome out = Run("InternalControlSignalsTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    std::vector<std::string> body;
    for (int n = 1; n < 16; ++n) {
        body.push_back(Miscompare(0, EXPECTED[n]));
        body.push_back("log 4 Miscompare on port");
    }
    body.push_back("event error FailedControlSignalsTest {PortNumber:text=COM1}");
    body.push_back("log 4 Port failed Control Signals test.");
    EXPECT_EQ(Said(out), Framed(body));
    EXPECT_EQ(BodyOps({"Sleep"}), std::vector<std::string>(16, SleepOp(100))); // all sixteen, always
}

} // namespace
} // namespace tarndiag
