// The 16550A register model: power-on values, DLAB, internal loopback timing and wiring, and the faults of
// UartConfig (formats.md section 2).
#include "SimTestHelpers.h"

#include <gtest/gtest.h>

using namespace tarnsimtest;
using tarnsim::CSimulation;
using tarnsim::UartConfig;

namespace {

const uint8_t POWER_ON_MSR = UART_MSR_DCD | UART_MSR_DSR | UART_MSR_CTS;

// MSR upper bits that Part 4.1's loopback wiring gives for the MCR outputs n: bits 0 and 1 exchanged.
uint8_t Wired(unsigned n) {
    return static_cast<uint8_t>((n & 0x0C) | ((n & 1) << 1) | ((n & 2) >> 1));
}

struct RateRow {
    unsigned rate;
    uint16_t divisor;
};
// Part 5.3's rate table.
const RateRow RATES[] = {{1200, 96}, {2400, 48}, {4800, 24}, {9600, 12}, {14400, 8},
                         {19200, 6}, {38400, 3}, {57600, 2}, {115200, 1}};

} // namespace

TEST(SimUart16550, PowerOnRegistersReadAsQemuShowsThem) {
    CSimulation sim(OnePort());
    // Part 5.1's order, 7 down to 0: QEMU shows 00 B0 60 00 00 01 00 00.
    EXPECT_EQ(In(sim, UART_SCR), 0x00);
    EXPECT_EQ(In(sim, UART_MSR), POWER_ON_MSR);
    EXPECT_EQ(In(sim, UART_LSR), UART_LSR_THRE | UART_LSR_TEMT);
    EXPECT_EQ(In(sim, UART_MCR), 0x00);
    EXPECT_EQ(In(sim, UART_LCR), 0x00);
    EXPECT_EQ(In(sim, UART_IIR), UART_IIR_NO_INT);
    EXPECT_EQ(In(sim, UART_IER), 0x00);
    EXPECT_EQ(In(sim, UART_RX), 0x00);
}

TEST(SimUart16550, PowerOnDivisorIs12ThroughDlab) {
    CSimulation sim(OnePort());
    Out(sim, UART_LCR, UART_LCR_DLAB);
    EXPECT_EQ(In(sim, UART_DLL), 0x0C);
    EXPECT_EQ(In(sim, UART_DLM), 0x00);
}

TEST(SimUart16550, DlabSelectsDivisorLatchInsteadOfRbrAndIer) {
    CSimulation sim(OnePort());
    Out(sim, UART_IER, 0x05);
    Out(sim, UART_LCR, UART_LCR_DLAB | UART_LCR_WLEN8);
    Out(sim, UART_DLL, 0x34);
    Out(sim, UART_DLM, 0x12);
    EXPECT_EQ(In(sim, UART_DLL), 0x34);
    EXPECT_EQ(In(sim, UART_DLM), 0x12);
    EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_DR, 0); // writing DLL sent nothing
    Out(sim, UART_LCR, UART_LCR_WLEN8);
    EXPECT_EQ(In(sim, UART_IER), 0x05); // IER untouched by the DLM write
    EXPECT_EQ(In(sim, UART_LCR), UART_LCR_WLEN8);
}

TEST(SimUart16550, ScratchRegisterKeepsWhatWasWritten) {
    CSimulation sim(OnePort());
    Out(sim, UART_SCR, 0xA5);
    EXPECT_EQ(In(sim, UART_SCR), 0xA5);
}

TEST(SimUart16550, McrUpperBitsReadZero) {
    CSimulation sim(OnePort());
    Out(sim, UART_MCR, 0xFF);
    EXPECT_EQ(In(sim, UART_MCR), UART_MCR_LOOP | UART_MCR_OUTPUTS);
}

TEST(SimUart16550, LoopbackByteShowsDataReadyExactlyOneCharacterTimeLaterAtEachPart53Divisor) {
    for (const RateRow& row : RATES) {
        SCOPED_TRACE(row.rate);
        CSimulation sim(OnePort());
        ProgramLoopback(sim, row.divisor);
        const uint64_t charUs = ElevenBitCharUs(row.divisor);
        Out(sim, UART_TX, 0x5A);
        const uint64_t writtenAt = sim.Clock().NowUs(); // an access happens at the end of its microsecond
        EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_THRE,
                  UART_LSR_THRE); // THR moved to the shift register at once
        sim.Clock().AdvanceTo(writtenAt + charUs - 2);
        EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_DR, 0) << "at " << sim.Clock().NowUs() - writtenAt;
        EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_DR, UART_LSR_DR) << "at " << sim.Clock().NowUs() - writtenAt;
        EXPECT_EQ(sim.Clock().NowUs() - writtenAt, charUs);
        EXPECT_EQ(In(sim, UART_RX), 0x5A);
        EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_DR, 0); // reading RBR cleared DR
    }
}

TEST(SimUart16550, CharacterTimeFollowsTheFrameOfLcr) {
    CSimulation sim(OnePort());
    ProgramLoopback(sim, 12);
    Out(sim, UART_LCR, UART_LCR_WLEN8 | UART_LCR_PARITY); // 1 + 8 + 1 + 1 = 11 bits
    Out(sim, UART_TX, 0x11);
    const uint64_t writtenAt = sim.Clock().NowUs();
    sim.Clock().AdvanceTo(writtenAt + ElevenBitCharUs(12) - 1);
    EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_DR, UART_LSR_DR);

    Out(sim, UART_LCR, 0x00); // 5 data bits, 1 stop: 7 bits of 12/115200 s = 729.2 us, rounded up
    In(sim, UART_RX);
    Out(sim, UART_TX, 0x11);
    const uint64_t shortAt = sim.Clock().NowUs();
    sim.Clock().AdvanceTo(shortAt + 730 - 2);
    EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_DR, 0);
    EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_DR, UART_LSR_DR);
}

TEST(SimUart16550, DivisorZeroCountsAs65536) {
    CSimulation sim(OnePort());
    ProgramLoopback(sim, 0);
    Out(sim, UART_TX, 0x01);
    const uint64_t writtenAt = sim.Clock().NowUs();
    sim.Clock().AdvanceTo(writtenAt + ElevenBitCharUs(65536) - 2);
    EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_DR, 0);
    EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_DR, UART_LSR_DR);
}

TEST(SimUart16550, SecondByteWaitsInThrWithThreClearUntilTheShiftRegisterIsFree) {
    CSimulation sim(OnePort());
    ProgramLoopback(sim, 12);
    const uint64_t charUs = ElevenBitCharUs(12);
    Out(sim, UART_TX, 0x01);
    const uint64_t firstAt = sim.Clock().NowUs();
    Out(sim, UART_TX, 0x02);
    EXPECT_EQ(In(sim, UART_LSR) & (UART_LSR_THRE | UART_LSR_TEMT), 0);
    sim.Clock().AdvanceTo(firstAt + charUs - 1);
    uint8_t lsr = In(sim, UART_LSR);
    EXPECT_EQ(lsr & UART_LSR_THRE, UART_LSR_THRE);
    EXPECT_EQ(lsr & UART_LSR_TEMT, 0);
    EXPECT_EQ(In(sim, UART_RX), 0x01);
    sim.Clock().AdvanceTo(firstAt + 2 * charUs);
    lsr = In(sim, UART_LSR);
    EXPECT_EQ(lsr & (UART_LSR_DR | UART_LSR_TEMT), UART_LSR_DR | UART_LSR_TEMT);
    EXPECT_EQ(In(sim, UART_RX), 0x02);
}

TEST(SimUart16550, WithoutLoopbackTransmittedBytesAreNotReceived) {
    CSimulation sim(OnePort());
    Out(sim, UART_LCR, UART_LCR_WLEN8);
    Out(sim, UART_TX, 0x33);
    sim.Clock().AdvanceUs(10000);
    EXPECT_EQ(In(sim, UART_LSR), UART_LSR_THRE | UART_LSR_TEMT);
}

TEST(SimUart16550, ByteArrivingBeforeRbrIsReadGivesOverrunClearedByReadingLsr) {
    CSimulation sim(OnePort());
    ProgramLoopback(sim, 1);
    Out(sim, UART_TX, 0x41);
    sim.Clock().AdvanceUs(ElevenBitCharUs(1));
    Out(sim, UART_TX, 0x42);
    sim.Clock().AdvanceUs(ElevenBitCharUs(1));
    EXPECT_EQ(In(sim, UART_LSR) & (UART_LSR_DR | UART_LSR_OE), UART_LSR_DR | UART_LSR_OE);
    EXPECT_EQ(In(sim, UART_LSR) & (UART_LSR_DR | UART_LSR_OE), UART_LSR_DR); // a 16550A clears OE on read
    EXPECT_EQ(In(sim, UART_RX), 0x42);
}

TEST(SimUart16550, LoopbackMsrFollowsMcrOutputsForAll16Values) {
    CSimulation sim(OnePort());
    for (unsigned n = 0; n < 16; ++n) {
        Out(sim, UART_MCR, static_cast<uint8_t>(UART_MCR_LOOP + n));
        EXPECT_EQ(In(sim, UART_MSR), Wired(n) << UART_MSR_INPUTS_SHIFT) << "n=" << n; // no delta bits
    }
}

TEST(SimUart16550, OutsideLoopbackMsrShowsTheExternalLines) {
    CSimulation sim(OnePort());
    Out(sim, UART_MCR, UART_MCR_OUTPUTS);
    EXPECT_EQ(In(sim, UART_MSR), POWER_ON_MSR);
}

TEST(SimUart16550, MsrZeroFaultReadsZeroForEveryMcrValue) {
    UartConfig uart;
    uart.msr = UartConfig::Msr::Zero;
    CSimulation sim(OnePort(uart));
    for (unsigned n = 0; n < 16; ++n) {
        Out(sim, UART_MCR, static_cast<uint8_t>(UART_MCR_LOOP + n));
        EXPECT_EQ(In(sim, UART_MSR) >> UART_MSR_INPUTS_SHIFT, 0) << "n=" << n;
    }
}

TEST(SimUart16550, MsrSwapFaultFeedsDtrToCtsAndRtsToDsr) {
    UartConfig uart;
    uart.msr = UartConfig::Msr::Swap;
    CSimulation sim(OnePort(uart));
    for (unsigned n = 0; n < 16; ++n) {
        Out(sim, UART_MCR, static_cast<uint8_t>(UART_MCR_LOOP + n));
        EXPECT_EQ(In(sim, UART_MSR) >> UART_MSR_INPUTS_SHIFT, n) << "n=" << n;
    }
}

TEST(SimUart16550, MsrFaultChangedMidTestTakesEffectAtTheNextRead) {
    CSimulation sim(OnePort());
    Out(sim, UART_MCR, UART_MCR_LOOP | UART_MCR_DTR);
    EXPECT_EQ(In(sim, UART_MSR), UART_MSR_DSR);
    sim.Uart(0).msr = UartConfig::Msr::Swap;
    EXPECT_EQ(In(sim, UART_MSR), UART_MSR_CTS);
}

TEST(SimUart16550, NoThreFaultNeverShowsThre) {
    UartConfig uart;
    uart.noThre = true;
    CSimulation sim(OnePort(uart));
    EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_THRE, 0);
    ProgramLoopback(sim, 1);
    sim.Clock().AdvanceUs(1000000);
    EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_THRE, 0);
    sim.Uart(0).noThre = false; // read live
    EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_THRE, UART_LSR_THRE);
}

TEST(SimUart16550, NoEchoFaultReceivesNothingInLoopback) {
    UartConfig uart;
    uart.noEcho = true;
    CSimulation sim(OnePort(uart));
    ProgramLoopback(sim, 1);
    Out(sim, UART_TX, 0x77);
    sim.Clock().AdvanceUs(1000000);
    EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_DR, 0);
    EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_THRE, UART_LSR_THRE); // the transmitter still works
}

TEST(SimUart16550, PendingByteWaitsInRbrAtPowerOn) {
    UartConfig uart;
    uart.pending = 0x99;
    CSimulation sim(OnePort(uart));
    EXPECT_EQ(sim.UartRegister(0, UART_LSR) & UART_LSR_DR, UART_LSR_DR);
    EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_DR, UART_LSR_DR);
    EXPECT_EQ(In(sim, UART_RX), 0x99);
    EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_DR, 0);
}

TEST(SimUart16550, CorruptFaultChangesTheByteOnlyAtItsRate) {
    UartConfig uart;
    uart.corrupt.push_back(tarnsim::CorruptRule{2400, 0x55, 0xAA});
    CSimulation sim(OnePort(uart));
    ProgramLoopback(sim, 48); // 2400 bit/s
    Out(sim, UART_TX, 0x55);
    sim.Clock().AdvanceUs(ElevenBitCharUs(48));
    EXPECT_EQ(In(sim, UART_RX), 0xAA);
    Out(sim, UART_TX, 0x56);
    sim.Clock().AdvanceUs(ElevenBitCharUs(48));
    EXPECT_EQ(In(sim, UART_RX), 0x56);

    ProgramLoopback(sim, 12); // 9600 bit/s: the rule does not apply
    Out(sim, UART_TX, 0x55);
    sim.Clock().AdvanceUs(ElevenBitCharUs(12));
    EXPECT_EQ(In(sim, UART_RX), 0x55);
}

TEST(SimUart16550, LineErrorFaultShowsItsBitsUntilTheByteIsRead) {
    UartConfig uart;
    uart.lineErrors.push_back(tarnsim::LineErrorRule{9600, 0x41, UART_LSR_FE | UART_LSR_PE});
    CSimulation sim(OnePort(uart));
    ProgramLoopback(sim, 12);
    Out(sim, UART_TX, 0x40);
    sim.Clock().AdvanceUs(ElevenBitCharUs(12));
    EXPECT_EQ(In(sim, UART_LSR) & (UART_LSR_FE | UART_LSR_PE), 0);
    EXPECT_EQ(In(sim, UART_RX), 0x40);

    Out(sim, UART_TX, 0x41);
    sim.Clock().AdvanceUs(ElevenBitCharUs(12));
    const uint8_t errors = UART_LSR_DR | UART_LSR_FE | UART_LSR_PE;
    EXPECT_EQ(In(sim, UART_LSR) & errors, errors);
    EXPECT_EQ(In(sim, UART_LSR) & errors, errors); // reading LSR does not clear them, unlike a healthy 16550A
    EXPECT_EQ(sim.UartRegister(0, UART_LSR) & errors, errors);
    EXPECT_EQ(In(sim, UART_RX), 0x41);
    EXPECT_EQ(In(sim, UART_LSR) & errors, 0);
}

TEST(SimUart16550, UartRegisterInspectsWithoutSideEffects) {
    UartConfig uart;
    uart.pending = 0x12;
    CSimulation sim(OnePort(uart));
    Out(sim, UART_MCR, UART_MCR_LOOP | UART_MCR_RTS);
    Out(sim, UART_LCR, UART_LCR_DLAB);
    const uint64_t before = sim.Clock().NowUs();
    EXPECT_EQ(sim.UartRegister(0, UART_RX), 0x12); // bank 0's RBR, not DLL
    EXPECT_EQ(sim.UartRegister(0, UART_LSR) & UART_LSR_DR, UART_LSR_DR);
    EXPECT_EQ(sim.UartRegister(0, UART_LSR) & UART_LSR_DR, UART_LSR_DR);
    EXPECT_EQ(sim.UartRegister(0, UART_MCR), UART_MCR_LOOP | UART_MCR_RTS);
    EXPECT_EQ(sim.UartRegister(0, UART_MSR), UART_MSR_CTS);
    EXPECT_EQ(sim.UartRegister(0, UART_LCR), UART_LCR_DLAB);
    EXPECT_EQ(sim.Clock().NowUs(), before); // inspection costs no time
}
