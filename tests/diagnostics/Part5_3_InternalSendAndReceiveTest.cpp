// Part 5.3: the internal send and receive test (test ID 3) programs the UART into internal loopback at each
// of nine rates and sends every byte value, each waiting for its own echo.
#include "DiagnosticsSupport.h"

namespace tarndiag {
namespace {

using kivu5::TestResult;

// Part 5.3's rate table, written out: rate and divisor (115200 / rate).
struct Row {
    unsigned rate;
    unsigned divisor;
};
const Row ROWS[9] = {{1200, 96}, {2400, 48}, {4800, 24}, {9600, 12}, {14400, 8},
                     {19200, 6}, {38400, 3}, {57600, 2}, {115200, 1}};
const int PERCENTS[9] = {2, 13, 24, 35, 46, 57, 68, 79, 90};

const char* const FAILED_SEND_RECEIVE = "event error FailedSendRecieveTest {PortNumber:text=COM1}";
const char* const FAILED_SEND_RECEIVE_LOG = "log 4 Port: COM1 failed send and receive test";
const char* const USER_ABORTED_LOG = "log 2 Port: COM1 User aborted";

// The progress text and percentage of rows first to last - 1.
std::vector<std::string> Rows(int first, int last) {
    std::vector<std::string> lines;
    for (int i = first; i < last; ++i) {
        lines.push_back("progress PrgsSendReceive {BaudRate:uint=" + std::to_string(ROWS[i].rate) + "}");
        lines.push_back("percent " + std::to_string(PERCENTS[i]));
    }
    return lines;
}

std::vector<std::string> Cat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const std::vector<std::string>& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

std::string TransmitTimeout(unsigned rate) {
    return "event error TransmitTimeout {PortNumber:text=COM1, BaudRate:uint=" + std::to_string(rate) + "}";
}

// Line time of one rate's 256 bytes: 11 bits each (start, 8 data, 2 stop) at 115200 / divisor bit/s.
double LineTimeMs(unsigned divisor) {
    return 256.0 * 11.0 * divisor * 1000.0 / 115200.0;
}
const double PROGRAMMING_MS = 6 * 10.0; // six 10 ms pauses per rate

// One register access or pause of the body, parsed from the trace.
struct RegOp {
    char kind; // 'R', 'W' or 'S' (Sleep)
    int offset;
    unsigned value;
};

std::string Text(const RegOp& op) {
    if (op.kind == 'S') {
        return SleepOp(op.value);
    }
    return op.kind == 'W' ? W(op.offset, op.value) : RV(op.offset, op.value);
}

class Part5_3_InternalSendAndReceiveTest : public DiagTest {
protected:
    static tarnsim::Scenario Port(std::initializer_list<uint32_t> settable) {
        tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
        scenario.ports[0].os.settableBaud = SettableMask(settable);
        scenario.ports[0].os.baud = 19200; // the saved rate, distinct from 9600
        return scenario;
    }

    static std::vector<RegOp> BodyRegOps() {
        std::vector<RegOp> ops;
        for (const tarnos::TraceEntry& e : BodyEntries({"PortReadByte", "PortWriteByte", "Sleep"})) {
            if (e.call == "Sleep") {
                ops.push_back({'S', 0, static_cast<unsigned>(std::stoul(e.args.at(0)))});
                continue;
            }
            int offset = std::stoi(e.args.at(0), nullptr, 16) - COM1_BASE;
            if (e.call == "PortWriteByte") {
                ops.push_back({'W', offset, static_cast<unsigned>(std::stoul(e.args.at(1), nullptr, 16))});
            } else {
                size_t blank = e.result.find(' ');
                unsigned value =
                    blank == std::string::npos
                        ? 0u
                        : static_cast<unsigned>(std::stoul(e.result.substr(blank + 1), nullptr, 16));
                ops.push_back({'R', offset, value});
            }
        }
        return ops;
    }

    // Step 2 of SendAndReceiveAtBaudRate from ops[pos]: compares the ops (LSR values left out) and moves on.
    static ::testing::AssertionResult Programming(const std::vector<RegOp>& ops, size_t& pos,
                                                  unsigned mcrBefore, unsigned divisor, int pending) {
        std::vector<std::string> expected = {RV(UART_MCR, mcrBefore),
                                             W(UART_MCR, mcrBefore | UART_MCR_LOOP),
                                             W(UART_IER, 0x00),
                                             SleepOp(10),
                                             W(UART_LCR, 0x87),
                                             SleepOp(10),
                                             R(UART_LSR),
                                             SleepOp(10),
                                             W(UART_LCR, 0x87),
                                             SleepOp(10),
                                             W(UART_DLL, divisor),
                                             SleepOp(10),
                                             W(UART_LCR, 0x07),
                                             R(UART_LSR)};
        if (pending >= 0) {
            expected.push_back(RV(UART_RX, static_cast<unsigned>(pending)));
        }
        expected.push_back(SleepOp(10));
        std::vector<std::string> actual;
        for (size_t i = pos; i < ops.size() && actual.size() < expected.size(); ++i) {
            bool lsr = ops[i].kind == 'R' && ops[i].offset == UART_LSR;
            actual.push_back(lsr ? R(UART_LSR) : Text(ops[i]));
        }
        if (actual != expected) {
            ::testing::AssertionResult failure = ::testing::AssertionFailure();
            failure << "programming at op " << pos << ":";
            for (size_t i = 0; i < actual.size(); ++i) {
                failure << "\n  " << actual[i]
                        << (i < expected.size() && actual[i] == expected[i] ? "" : "   <-- ")
                        << (i < expected.size() && actual[i] != expected[i] ? expected[i] : "");
            }
            return failure;
        }
        const RegOp& flushStatus = ops[pos + 13];
        if (((flushStatus.value & UART_LSR_DR) != 0) != (pending >= 0)) {
            return ::testing::AssertionFailure()
                   << "the RBR read of step 2.8 does not follow DR: " << Text(flushStatus);
        }
        pos += expected.size();
        return ::testing::AssertionSuccess();
    }

    // Step 4 from ops[pos]: for v = 0..255, LSR polled until THRE, v written to THR, LSR polled until DR, one
    // LSR read of its own without error bits, RBR read as v. Nothing else in between.
    static ::testing::AssertionResult ByteLoop(const std::vector<RegOp>& ops, size_t& pos) {
        auto poll = [&](unsigned bit, unsigned v) -> ::testing::AssertionResult {
            for (;;) {
                if (pos >= ops.size()) {
                    return ::testing::AssertionFailure() << "byte " << v << ": trace ends while polling LSR";
                }
                const RegOp& op = ops[pos++];
                if (op.kind != 'R' || op.offset != UART_LSR) {
                    return ::testing::AssertionFailure()
                           << "byte " << v << ": " << Text(op) << " while polling LSR";
                }
                if ((op.value & bit) != 0) {
                    return ::testing::AssertionSuccess();
                }
            }
        };
        for (unsigned v = 0; v < 256; ++v) {
            ::testing::AssertionResult ok = poll(UART_LSR_THRE, v);
            if (!ok) {
                return ok;
            }
            if (pos >= ops.size() || Text(ops[pos]) != W(UART_TX, v)) {
                return ::testing::AssertionFailure() << "byte " << v << ": expected " << W(UART_TX, v);
            }
            ++pos;
            ok = poll(UART_LSR_DR, v);
            if (!ok) {
                return ok;
            }
            if (pos + 1 >= ops.size() || ops[pos].kind != 'R' || ops[pos].offset != UART_LSR ||
                (ops[pos].value & (UART_LSR_OE | UART_LSR_PE | UART_LSR_FE)) != 0 ||
                Text(ops[pos + 1]) != RV(UART_RX, v)) {
                return ::testing::AssertionFailure()
                       << "byte " << v << ": expected a line status read and " << RV(UART_RX, v);
            }
            pos += 2;
        }
        return ::testing::AssertionSuccess();
    }

    // Places the wrap of the 32-bit tick counter this many virtual milliseconds from now.
    void WrapTickCounterIn(uint64_t ms) {
        uint64_t wrapAtMs = Sim().Clock().NowUs() / 1000 + ms;
        Sim().Clock().SetTickOrigin(static_cast<DWORD>(0x100000000ull - wrapAtMs));
    }
};

TEST_F(Part5_3_InternalSendAndReceiveTest, NoSettableRateTouchesNoRegisterReportsAllNineRowsAndPasses) {
    Use(Port({}));
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed(Rows(0, 9)));
    EXPECT_EQ(BodyRegisterOps(), std::vector<std::string>());
    // GetBaudRate, one property query per row, Configure(saved rate), the dispatcher's Close.
    std::vector<std::string> calls = {"GetCommState"};
    calls.insert(calls.end(), 9, "GetCommProperties");
    calls.insert(calls.end(), {"GetCommState", "SetupComm", "BuildCommDCBW", "SetCommState",
                               "SetCommTimeouts", "CloseHandle"});
    EXPECT_EQ(BodyCallNames(), calls);
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>({19200}));
}

TEST_F(Part5_3_InternalSendAndReceiveTest, NoIoBaseAddressEveryRateIsNotSupportedAndTheSavedRateIsRestored) {
    tarnsim::Scenario scenario = Port({1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200});
    scenario.ports[0].io.reset();
    Use(scenario);
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::NOTSUPPORTED());
    EXPECT_EQ(Said(out), Cat({{"log 3 Failed to enumerate serial port IO base address",
                               "log 1 ==>NO base address present 2", "log 1 ==>PORT NUMBER: 1",
                               "progress ValidityCheck {PortNumber:text=COM1}", "percent 0"},
                              Rows(0, 9),
                              {"progress TestComplete {PortNumber:text=COM1}", "percent 100"}}));
    EXPECT_EQ(RegisterTrace(), std::vector<std::string>());
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>({19200}));
}

TEST_F(Part5_3_InternalSendAndReceiveTest,
       MiscompareAt2400ThenCleanRatesFailsOnceAndKeepsRunningWithoutRestore) {
    tarnsim::Scenario scenario = Port({2400, 57600, 115200});
    scenario.ports[0].uart.corrupt.push_back({2400, 3, 0x83});
    Use(scenario);
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out),
              Framed(Cat({Rows(0, 1),
                          {"event error BaudMiscompareError {PortNumber:text=COM1, BaudRate:uint=2400, "
                           "ValueRead:int=131, ExpectedValue:int=3}",
                           "log 4 Miscompare on port"},
                          Rows(1, 9),
                          {FAILED_SEND_RECEIVE, FAILED_SEND_RECEIVE_LOG}})));
    // 2400 ends at its fourth byte; 57600 and 115200 still run, all 256 bytes each.
    std::vector<RegOp> ops = BodyRegOps();
    size_t pos = 0;
    ASSERT_TRUE(Programming(ops, pos, ops.at(0).value, 48, -1));
    while (pos < ops.size() && !(ops[pos].kind == 'R' && ops[pos].offset == UART_MCR)) {
        ++pos;
    }
    ASSERT_TRUE(Programming(ops, pos, ops.at(pos).value, 2, -1));
    ASSERT_TRUE(ByteLoop(ops, pos));
    ASSERT_TRUE(Programming(ops, pos, ops.at(pos).value, 1, -1));
    ASSERT_TRUE(ByteLoop(ops, pos));
    EXPECT_EQ(pos, ops.size());
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>()); // the saved rate is not put back
}

TEST_F(Part5_3_InternalSendAndReceiveTest,
       StopBeforeARateFirstByteAbortsWithoutThatRowAndRestoresTheSavedRate) {
    Use(Port({57600, 115200}));
    StopAfterChecks(2); // the dispatcher's check, 57600's check; 115200's check asks to stop
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::USERABORTED());
    EXPECT_EQ(Said(out), Framed(Cat({Rows(0, 8), {USER_ABORTED_LOG}})));
    EXPECT_EQ(kivu5::Framework::stopChecks(), 3u);
    // 115200 was programmed, then no byte was sent.
    std::vector<std::string> ops = BodyRegisterOps(false, true);
    ASSERT_GE(ops.size(), 5u);
    EXPECT_EQ(
        std::vector<std::string>(ops.end() - 5, ops.end()),
        std::vector<std::string>({W(UART_DLL, 1), SleepOp(10), W(UART_LCR, 0x07), R(UART_LSR), SleepOp(10)}));
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>({19200}));
}

TEST_F(Part5_3_InternalSendAndReceiveTest,
       StopAfterAnEarlierFailedRateReturnsFailAndRaisesFailedSendRecieveTest) {
    tarnsim::Scenario scenario = Port({57600, 115200});
    scenario.ports[0].uart.corrupt.push_back({57600, 1, 0x81});
    Use(scenario);
    StopAfterChecks(2);
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out),
              Framed(Cat({Rows(0, 7),
                          {"event error BaudMiscompareError {PortNumber:text=COM1, BaudRate:uint=57600, "
                           "ValueRead:int=129, ExpectedValue:int=1}",
                           "log 4 Miscompare on port"},
                          Rows(7, 8),
                          {USER_ABORTED_LOG, FAILED_SEND_RECEIVE, FAILED_SEND_RECEIVE_LOG}})));
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>());
}

TEST_F(Part5_3_InternalSendAndReceiveTest, TimeoutWhileAStopIsPendingIsUserAbortedWithoutTransmitTimeout) {
    tarnsim::Scenario scenario = Port({115200});
    scenario.ports[0].uart.noThre = true;
    Use(scenario);
    TraceOff();
    CountWin32Calls();
    StopAfterChecks(2); // the dispatcher's and the rate's checks pass; the timeout's check asks to stop
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::USERABORTED());
    EXPECT_EQ(Said(out), Framed(Cat({Rows(0, 8), {USER_ABORTED_LOG}})));
    EXPECT_EQ(kivu5::Framework::stopChecks(), 3u);
    EXPECT_EQ(Win32Calls("SetCommTimeouts"), 1u); // Configure(saved rate): its last call
}

TEST_F(Part5_3_InternalSendAndReceiveTest, ReceiveTimeoutWhileAStopIsPendingIsUserAbortedToo) {
    tarnsim::Scenario scenario = Port({115200});
    scenario.ports[0].uart.noEcho = true;
    Use(scenario);
    TraceOff();
    StopAfterChecks(2);
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::USERABORTED());
    EXPECT_EQ(Said(out), Framed(Cat({Rows(0, 8), {USER_ABORTED_LOG}})));
}

TEST_F(Part5_3_InternalSendAndReceiveTest, NoThreRaisesTransmitTimeoutAtEachRateAfter3000msOfVirtualTime) {
    tarnsim::Scenario scenario = Port({57600, 115200});
    scenario.ports[0].uart.noThre = true;
    Use(scenario);
    TraceOff();
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed(Cat({Rows(0, 7),
                                     {TransmitTimeout(57600)},
                                     Rows(7, 8),
                                     {TransmitTimeout(115200)},
                                     Rows(8, 9),
                                     {FAILED_SEND_RECEIVE, FAILED_SEND_RECEIVE_LOG}})));
    // Each rate: its six pauses, then the wait gives up when the tick difference first exceeds 3000.
    EXPECT_GE(ElapsedMs(), 2 * (PROGRAMMING_MS + 3000.0));
    EXPECT_LE(ElapsedMs(), 2 * (PROGRAMMING_MS + 3002.0));
}

TEST_F(Part5_3_InternalSendAndReceiveTest, NoEchoRaisesTheSameTransmitTimeoutFromTheReceiveWait) {
    tarnsim::Scenario scenario = Port({115200});
    scenario.ports[0].uart.noEcho = true;
    Use(scenario);
    TraceOff();
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed(Cat({Rows(0, 8),
                                     {TransmitTimeout(115200)},
                                     Rows(8, 9),
                                     {FAILED_SEND_RECEIVE, FAILED_SEND_RECEIVE_LOG}})));
    EXPECT_GE(ElapsedMs(), PROGRAMMING_MS + 3000.0);
    EXPECT_LE(ElapsedMs(), PROGRAMMING_MS + 3002.0);
}

TEST_F(Part5_3_InternalSendAndReceiveTest,
       ByteWithFramingAndParityErrorRaisesOnlyFramingErrorAndNoMiscompare) {
    tarnsim::Scenario scenario = Port({115200});
    scenario.ports[0].uart.lineErrors.push_back({115200, 5, UART_LSR_FE | UART_LSR_PE});
    scenario.ports[0].uart.corrupt.push_back({115200, 5, 0x06}); // would miscompare if it were read
    Use(scenario);
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed(Cat({Rows(0, 8),
                                     {"event error FramingError {PortNumber:text=COM1}"},
                                     Rows(8, 9),
                                     {FAILED_SEND_RECEIVE, FAILED_SEND_RECEIVE_LOG}})));
    // The byte is not read: after 5 is written the body only polls LSR until DR, then reads LSR once more.
    std::vector<RegOp> ops = BodyRegOps();
    size_t last = ops.size();
    while (last > 0 && Text(ops[last - 1]) != W(UART_TX, 5)) {
        --last;
    }
    ASSERT_GT(last, 0u) << "5 was never sent";
    ASSERT_GE(ops.size() - last, 2u);
    for (size_t i = last; i < ops.size(); ++i) {
        EXPECT_EQ(R(ops[i].offset), R(UART_LSR)) << i;
        EXPECT_EQ(ops[i].kind, 'R') << i;
    }
    EXPECT_NE(ops[ops.size() - 2].value & UART_LSR_DR, 0u);
    EXPECT_EQ(ops.back().value & (UART_LSR_FE | UART_LSR_PE), unsigned(UART_LSR_FE | UART_LSR_PE));
}

TEST_F(Part5_3_InternalSendAndReceiveTest, ByteWithParityAndOverrunErrorRaisesParityError) {
    tarnsim::Scenario scenario = Port({115200});
    scenario.ports[0].uart.lineErrors.push_back({115200, 7, UART_LSR_PE | UART_LSR_OE});
    Use(scenario);
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed(Cat({Rows(0, 8),
                                     {"event error ParityError {PortNumber:text=COM1}"},
                                     Rows(8, 9),
                                     {FAILED_SEND_RECEIVE, FAILED_SEND_RECEIVE_LOG}})));
}

TEST_F(Part5_3_InternalSendAndReceiveTest, ByteWithOverrunOnlyRaisesOverrunError) {
    tarnsim::Scenario scenario = Port({115200});
    scenario.ports[0].uart.lineErrors.push_back({115200, 200, UART_LSR_OE});
    Use(scenario);
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed(Cat({Rows(0, 8),
                                     {"event error OverrunError {PortNumber:text=COM1}"},
                                     Rows(8, 9),
                                     {FAILED_SEND_RECEIVE, FAILED_SEND_RECEIVE_LOG}})));
}

TEST_F(Part5_3_InternalSendAndReceiveTest, ProgrammingOfEachRateAndItsByteLoopFollowTheExactRegisterOrder) {
    Use(Port({57600, 115200}));
    Sim().WriteByte(COM1_BASE + UART_MCR, 0x03); // DTR and RTS on before the test: kept by the OR
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed(Rows(0, 9)));
    std::vector<RegOp> ops = BodyRegOps();
    size_t pos = 0;
    ASSERT_TRUE(Programming(ops, pos, 0x03, 2, -1));
    ASSERT_TRUE(ByteLoop(ops, pos));
    ASSERT_TRUE(Programming(ops, pos, 0x13, 1, -1)); // the loopback bit of the previous rate stays
    ASSERT_TRUE(ByteLoop(ops, pos));
    EXPECT_EQ(pos, ops.size());
    // Left in internal loopback with IER 0 and LCR 0x07; the final Configure restores the saved rate only.
    EXPECT_EQ(Sim().UartRegister(0, UART_MCR) & UART_MCR_LOOP, UART_MCR_LOOP);
    EXPECT_EQ(Sim().UartRegister(0, UART_IER), 0x00);
    EXPECT_EQ(Sim().UartRegister(0, UART_LCR), 0x07);
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>({19200}));
}

TEST_F(Part5_3_InternalSendAndReceiveTest, ByteWaitingInRbrIsReadAndDroppedOnceBeforeTheFirstEcho) {
    tarnsim::Scenario scenario = Port({57600, 115200});
    scenario.ports[0].uart.pending = 0x55;
    Use(scenario);
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed(Rows(0, 9)));
    std::vector<RegOp> ops = BodyRegOps();
    size_t pos = 0;
    ASSERT_TRUE(Programming(ops, pos, ops.at(0).value, 2, 0x55)); // flushed here
    ASSERT_TRUE(ByteLoop(ops, pos));
    ASSERT_TRUE(Programming(ops, pos, ops.at(pos).value, 1, -1)); // and not again
    ASSERT_TRUE(ByteLoop(ops, pos));
    EXPECT_EQ(pos, ops.size());
}

TEST_F(Part5_3_InternalSendAndReceiveTest, TickCounterWrapDuringAWaitDoesNotEndItEarly) {
    Use(Port({57600, 115200}));
    WrapTickCounterIn(80); // inside the byte loop of 57600 (its 256 bytes run from about 60 ms to 110 ms)
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed(Rows(0, 9)));
    EXPECT_LT(Sim().Clock().TickCount(), 1000u); // the counter did wrap during the run
    double expected = LineTimeMs(2) + LineTimeMs(1) + 2 * PROGRAMMING_MS;
    EXPECT_GE(ElapsedMs(), expected - 1.0);
    EXPECT_LE(ElapsedMs(), expected + 5.0);
}

TEST_F(Part5_3_InternalSendAndReceiveTest, TickCounterWrapDuringAFailingWaitStillEndsItAfter3000ms) {
    tarnsim::Scenario scenario = Port({115200});
    scenario.ports[0].uart.noThre = true;
    Use(scenario);
    TraceOff();
    WrapTickCounterIn(1000);
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(tarntest::Count(out.timeline, TransmitTimeout(115200)), 1u);
    EXPECT_GE(ElapsedMs(), PROGRAMMING_MS + 3000.0);
    EXPECT_LE(ElapsedMs(), PROGRAMMING_MS + 3002.0);
}

TEST_F(Part5_3_InternalSendAndReceiveTest,
       HealthyUartPassesAllNineRatesInTheLineTimeOf256ElevenBitBytesEach) {
    Use(tarnsim::Scenario::BuiltIn());
    TraceOff();
    CountWin32Calls();
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed(Rows(0, 9)));
    double expected = 0;
    for (const Row& row : ROWS) {
        expected += LineTimeMs(row.divisor) + PROGRAMMING_MS;
    }
    // About 5.43 s; each register access costs 1 us on top (a handful per byte: about 10 ms in all).
    EXPECT_GE(ElapsedMs(), expected - 1.0);
    EXPECT_LE(ElapsedMs(), expected + 20.0);
    EXPECT_EQ(Win32Calls("GetCommProperties"), 9u);
    EXPECT_EQ(Win32Calls("SetCommTimeouts"), 1u); // Configure(saved rate) at the end: its last call
}

TEST_F(Part5_3_InternalSendAndReceiveTest, UnreadableSavedRateFailsWithFailedGetBaudRateAndNothingElse) {
    tarnsim::Scenario scenario = Port({115200});
    scenario.ports[0].os.fail = {"GetCommState"};
    Use(scenario);
    kivu5::RunOutcome out = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed({"event error FailedGetBaudRate {PortNumber:text=COM1}"}));
    EXPECT_EQ(BodyRegisterOps(), std::vector<std::string>());
}

} // namespace
} // namespace tarndiag
