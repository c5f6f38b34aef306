// Part 5.1: the internal register test (test ID 2) reads the eight UART registers once, offsets 7 down to 0,
// and fails when (r3 & r2 & r1 & r0) | (r7 & r6 & r5 & r4) is 0xFF.
#include "DiagnosticsSupport.h"

namespace tarndiag {
namespace {

using kivu5::TestResult;

const std::vector<std::string> FAILED_REG_TEST = {"event error FailedRegTest {PortNumber:text=COM1}",
                                                  "log 4 Failed register test"};

class Part5_1_InternalRegisterTest : public DiagTest {
protected:
    // The built-in port, its registers answered by a scripted UART: values[k] is what offset k reads.
    kivu5::RunOutcome RunWithRegisters(std::array<uint8_t, 8> values, std::vector<int> failingReads = {}) {
        Use(tarnsim::Scenario::BuiltIn());
        m_uart.reset(new CScriptedUart(COM1_BASE, values));
        for (int offset : failingReads) {
            m_uart->FailReadOf(offset);
        }
        tarnos::SetBackends(&Sim(), m_uart.get());
        return Run("InternalRegisterTest");
    }

    std::unique_ptr<CScriptedUart> m_uart;
};

TEST_F(Part5_1_InternalRegisterTest, AllEightRegistersReadFFFailsWithOneFailedRegTest) {
    kivu5::RunOutcome out = RunWithRegisters({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed(FAILED_REG_TEST));
}

TEST_F(Part5_1_InternalRegisterTest, DeadUartFailsWithOneFailedRegTestAndItsLog) {
    tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
    scenario.ports[0].uart.model = tarnsim::UartConfig::Model::Absent;
    Use(scenario);
    kivu5::RunOutcome out = Run("InternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed(FAILED_REG_TEST));
    EXPECT_EQ(tarntest::Count(out.timeline, "event error FailedRegTest {PortNumber:text=COM1}"), 1u);
}

TEST_F(Part5_1_InternalRegisterTest, LowerGroupAllFFFailsWhateverTheUpperGroup) {
    // Offsets 0 to 3 read 0xFF; 4 to 7 do not (a plausible MCR, LSR, MSR and scratch).
    kivu5::RunOutcome out = RunWithRegisters({0xFF, 0xFF, 0xFF, 0xFF, 0x0B, 0x60, 0xB0, 0x00});
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed(FAILED_REG_TEST));
}

TEST_F(Part5_1_InternalRegisterTest, UpperGroupAllFFFailsWhateverTheLowerGroup) {
    kivu5::RunOutcome out = RunWithRegisters({0x00, 0x00, 0x01, 0x03, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed(FAILED_REG_TEST));
}

TEST_F(Part5_1_InternalRegisterTest, LowerF0AndUpper0FFailSinceOnlyTheOrOfTheGroupsCounts) {
    // L = F1 & F2 & F4 & F8 = 0xF0 and H = 1F & 2F & 4F & 8F = 0x0F: no register reads 0xFF, L | H does.
    kivu5::RunOutcome out = RunWithRegisters({0xF1, 0xF2, 0xF4, 0xF8, 0x1F, 0x2F, 0x4F, 0x8F});
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed(FAILED_REG_TEST));
}

TEST_F(Part5_1_InternalRegisterTest, GroupsOneBitShortOfFFPass) {
    // L = 0xF0, H = 0x0E: L | H = 0xFE, one bit short.
    kivu5::RunOutcome out = RunWithRegisters({0xF1, 0xF2, 0xF4, 0xF8, 0x1E, 0x2E, 0x4E, 0x8E});
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed({}));
}

TEST_F(Part5_1_InternalRegisterTest, Offset1AndOffset4ReadingZeroPassWhateverTheOtherSix) {
    for (int value : {0x00, 0x5A, 0xFF}) {
        SCOPED_TRACE(value);
        uint8_t other = static_cast<uint8_t>(value);
        kivu5::RunOutcome out = RunWithRegisters({other, 0x00, other, other, 0x00, other, other, other});
        EXPECT_EQ(out.result, TestResult::PASS());
        EXPECT_EQ(Said(out), Framed({}));
    }
}

TEST_F(Part5_1_InternalRegisterTest, NoIoBaseAddressIsNotSupportedAndNoRegisterIsTouched) {
    tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
    scenario.ports[0].io.reset(); // the device has no IoBaseAddresses: NO_IO_BASE_ADDRESS
    scenario.ports[0].uart.model = tarnsim::UartConfig::Model::Absent;
    Use(scenario);
    kivu5::RunOutcome out = Run("InternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::NOTSUPPORTED());
    EXPECT_EQ(RegisterTrace(), std::vector<std::string>());
    EXPECT_EQ(Said(out),
              std::vector<std::string>({"log 3 Failed to enumerate serial port IO base address",
                                        "log 1 ==>NO base address present 2", "log 1 ==>PORT NUMBER: 1",
                                        "progress ValidityCheck {PortNumber:text=COM1}", "percent 0",
                                        "progress TestComplete {PortNumber:text=COM1}", "percent 100"}));
}

TEST_F(Part5_1_InternalRegisterTest, ReadsOffsetsSevenDownToZeroExactlyOnceEachAndWritesNothing) {
    kivu5::RunOutcome out = RunWithRegisters({0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17});
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(BodyRegisterOps(true),
              std::vector<std::string>({RV(7, 0x17), RV(6, 0x16), RV(5, 0x15), RV(4, 0x14), RV(3, 0x13),
                                        RV(2, 0x12), RV(1, 0x11), RV(0, 0x10)}));
}

TEST_F(Part5_1_InternalRegisterTest, HealthyUartPassesWithEightReadsAndNoEvent) {
    Use(tarnsim::Scenario::BuiltIn());
    kivu5::RunOutcome out = Run("InternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed({}));
    EXPECT_EQ(BodyRegisterOps(), std::vector<std::string>({R(7), R(6), R(5), R(4), R(3), R(2), R(1), R(0)}));
    EXPECT_EQ(BodyWin32Ops(), std::vector<std::string>({"CloseHandle() -> TRUE"}));
}

TEST_F(Part5_1_InternalRegisterTest, FailedLibraryReadsCountAsZeroAndPullTowardsPass) {
    // Every register holds 0xFF, but the reads of offsets 1 and 6 fail in the library: they read 0x00.
    kivu5::RunOutcome out = RunWithRegisters({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {1, 6});
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed({}));
}

TEST_F(Part5_1_InternalRegisterTest, DriverClosedAfterThePortWasBuiltReadsZeroAndPasses) {
    tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
    scenario.ports[0].uart.model = tarnsim::UartConfig::Model::Absent;
    Use(scenario);
    AtOpen(1, [this] { Sim().SetDriverInstalled(false); });
    kivu5::RunOutcome out = Run("InternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed({}));
    EXPECT_EQ(BodyRegisterOps(), std::vector<std::string>()); // each access stops at DriverOpened
}

} // namespace
} // namespace tarndiag
