// The banked National Semiconductor UART (Parts 3.2, 4.1), the absent model and the empty I/O space.
#include "SimTestHelpers.h"

#include <gtest/gtest.h>

using namespace tarnsimtest;
using tarnsim::CSimulation;
using tarnsim::UartConfig;

namespace {

UartConfig Banked(uint8_t id, uint8_t ircr, uint8_t excr1, uint8_t mcrMode) {
    UartConfig uart = Model(UartConfig::Model::NsBanked);
    uart.id = id;
    uart.ircr = ircr;
    uart.excr1 = excr1;
    uart.mcrMode = mcrMode;
    return uart;
}

} // namespace

TEST(SimNsBankedUart, Bank3OffsetZeroIsTheIdentificationRegister) {
    CSimulation sim(OnePort(Banked(0x25, 0x00, 0x00, 0)));
    Out(sim, UART_LCR, UART_NS_BANK3);
    EXPECT_EQ(In(sim, UART_NS_ID), 0x25);
    EXPECT_EQ(In(sim, UART_NS_ID), 0x25);
    EXPECT_EQ(In(sim, UART_LCR), UART_NS_BANK3); // LCR reads back what was written
}

TEST(SimNsBankedUart, Bank4OffsetTwoIsTheInfraredControlRegister) {
    CSimulation sim(OnePort(Banked(0x25, 0x08, 0x00, 0)));
    Out(sim, UART_LCR, UART_NS_BANK4);
    EXPECT_EQ(In(sim, UART_NS_IRCR1), 0x08);
    EXPECT_EQ(In(sim, UART_NS_IRCR1), 0x08);
    // Part 3.2 step 7: bank 0 again, where offset 2 is IIR and so differs from IRCR.
    Out(sim, UART_LCR, UART_LCR_WLEN8);
    EXPECT_EQ(In(sim, UART_IIR), UART_IIR_NO_INT);
}

TEST(SimNsBankedUart, Bank2OffsetTwoIsTheExtendedControlRegister) {
    CSimulation sim(OnePort(Banked(0x25, 0x00, UART_NS_EXCR1_EXT_MODE, 0)));
    Out(sim, UART_LCR, UART_NS_BANK2);
    EXPECT_EQ(In(sim, UART_NS_EXCR1), UART_NS_EXCR1_EXT_MODE);
}

TEST(SimNsBankedUart, McrShowsTheOperatingModeOnlyInExtendedMode) {
    CSimulation sim(OnePort(Banked(0x25, 0x00, UART_NS_EXCR1_EXT_MODE, 0x40)));
    Out(sim, UART_MCR, UART_MCR_DTR | UART_MCR_RTS | UART_MCR_OUT2);
    EXPECT_EQ(In(sim, UART_MCR), 0x40 | UART_MCR_DTR | UART_MCR_RTS | UART_MCR_OUT2);
    EXPECT_EQ(sim.UartRegister(0, UART_MCR), 0x40 | UART_MCR_DTR | UART_MCR_RTS | UART_MCR_OUT2);
    sim.Uart(0).excr1 = 0x00; // extended mode off: plain 16550 MCR
    EXPECT_EQ(In(sim, UART_MCR), UART_MCR_DTR | UART_MCR_RTS | UART_MCR_OUT2);
}

TEST(SimNsBankedUart, LcrWithBit80ClearSelectsBankZeroAgain) {
    CSimulation sim(OnePort(Banked(0x25, 0x0C, 0x00, 0)));
    Out(sim, UART_SCR, 0x3C);
    Out(sim, UART_LCR, UART_NS_BANK3);
    EXPECT_EQ(In(sim, UART_SCR), 0x00); // other bank registers read 0
    Out(sim, UART_SCR, 0x77);           // and ignore writes
    Out(sim, UART_NS_ID, 0x99);         // the identification register is read-only
    EXPECT_EQ(In(sim, UART_NS_ID), 0x25);
    Out(sim, UART_LCR, UART_LCR_WLEN8);
    EXPECT_EQ(In(sim, UART_SCR), 0x3C);
    EXPECT_EQ(In(sim, UART_RX), 0x00); // RBR, not the identification register
    EXPECT_EQ(In(sim, UART_IIR), UART_IIR_NO_INT);
}

TEST(SimNsBankedUart, OtherLcrValueWithBit80SetIsDivisorLatchAccess) {
    CSimulation sim(OnePort(Banked(0x25, 0x0C, 0x01, 0)));
    Out(sim, UART_LCR, UART_LCR_DLAB | UART_LCR_WLEN8);
    EXPECT_EQ(In(sim, UART_DLL), 0x0C);
    EXPECT_EQ(In(sim, UART_DLM), 0x00);
    EXPECT_EQ(In(sim, UART_IIR), UART_IIR_NO_INT);
}

TEST(SimNsBankedUart, PlainUartWorksInBankZero) {
    CSimulation sim(OnePort(Banked(0x25, 0x00, 0x00, 0)));
    ProgramLoopback(sim, 1);
    Out(sim, UART_TX, 0xC3);
    sim.Clock().AdvanceUs(ElevenBitCharUs(1));
    EXPECT_EQ(In(sim, UART_LSR) & UART_LSR_DR, UART_LSR_DR);
    EXPECT_EQ(In(sim, UART_RX), 0xC3);
}

TEST(SimNsBankedUart, PlainUartAnswersBankSelectsWithDivisorLatchAndIir) {
    // A 16550A has no banks: after 0xE4, offset 0 is DLL and offset 2 IIR, as QEMU shows.
    CSimulation sim(OnePort());
    Out(sim, UART_LCR, UART_NS_BANK3);
    EXPECT_EQ(In(sim, UART_NS_ID), 0x0C);
    Out(sim, UART_LCR, UART_NS_BANK4);
    EXPECT_EQ(In(sim, UART_NS_IRCR1), UART_IIR_NO_INT);
    EXPECT_EQ(In(sim, UART_LCR), UART_NS_BANK4);
}

TEST(SimAbsentUart, EveryRegisterReadsFFAndWritesVanish) {
    CSimulation sim(OnePort(Model(UartConfig::Model::Absent)));
    Out(sim, UART_SCR, 0x00);
    Out(sim, UART_MCR, 0x00);
    for (unsigned offset = 0; offset < UART_REGISTER_COUNT; ++offset) {
        EXPECT_EQ(In(sim, offset), 0xFF) << offset;
        EXPECT_EQ(sim.UartRegister(0, static_cast<int>(offset)), 0xFF) << offset;
    }
}

TEST(SimIoSpace, AddressesWithoutAUartReadFF) {
    CSimulation sim(OnePort());
    unsigned char value = 0;
    EXPECT_EQ(sim.ReadByte(0x3F8, &value), 0);
    EXPECT_EQ(value, 0xFF);
    EXPECT_EQ(sim.ReadByte(BASE + UART_REGISTER_COUNT, &value), 0);
    EXPECT_EQ(value, 0xFF);
    EXPECT_EQ(sim.ReadByte(BASE - 1, &value), 0);
    EXPECT_EQ(value, 0xFF);
    EXPECT_EQ(sim.WriteByte(0x3F8, 0x00), 0);
}

TEST(SimIoSpace, UartSitsAtTheLow16BitsOfIoZero) {
    tarnsim::Scenario scenario = OnePort();
    scenario.ports[0].io = std::vector<uint32_t>{0x10000u + BASE, 0x3E8};
    CSimulation sim(scenario);
    EXPECT_EQ(In(sim, UART_LSR), UART_LSR_THRE | UART_LSR_TEMT);
    unsigned char value = 0;
    sim.ReadByte(0x3E8 + UART_LSR, &value);
    EXPECT_EQ(value, 0xFF); // only io[0] is mapped
}

TEST(SimIoSpace, PortsWithoutIoOrWithEmptyIoMapNothing) {
    tarnsim::Scenario scenario = OnePort();
    scenario.ports[0].io.reset();
    tarnsim::PortConfig empty = scenario.ports[0];
    empty.io = std::vector<uint32_t>{};
    scenario.ports.push_back(empty);
    CSimulation sim(scenario);
    EXPECT_EQ(In(sim, UART_LSR), 0xFF);
    EXPECT_EQ(sim.UartRegister(0, UART_LSR), 0xFF);
    EXPECT_EQ(sim.UartRegister(1, UART_LSR), 0xFF);
}

TEST(SimIoSpace, TwoUartsAnswerEachAtItsOwnBase) {
    tarnsim::Scenario scenario = OnePort();
    tarnsim::PortConfig second = scenario.ports[0];
    second.com = 3;
    second.io = std::vector<uint32_t>{0x3E8};
    second.uart = Model(UartConfig::Model::Absent);
    scenario.ports.push_back(second);
    CSimulation sim(scenario);
    unsigned char value = 0;
    sim.ReadByte(0x3E8 + UART_LSR, &value);
    EXPECT_EQ(value, 0xFF);
    EXPECT_EQ(In(sim, UART_LSR), UART_LSR_THRE | UART_LSR_TEMT);
}

TEST(SimIoSpace, EveryRegisterAccessCostsOneMicrosecond) {
    CSimulation sim(OnePort());
    const uint64_t before = sim.Clock().NowUs();
    In(sim, UART_LSR);
    Out(sim, UART_SCR, 1);
    unsigned char value = 0;
    sim.ReadByte(0x1234, &value);
    EXPECT_EQ(sim.Clock().NowUs() - before, 3u);
}

TEST(SimIoSpace, DriverInstalledFollowsTheScenarioLive) {
    tarnsim::Scenario scenario = OnePort();
    scenario.driverInstalled = false;
    CSimulation sim(scenario);
    EXPECT_FALSE(sim.DriverOpen());
    unsigned char value = 0x5A;
    EXPECT_NE(sim.ReadByte(BASE + UART_LSR, &value), 0);
    EXPECT_EQ(value, 0x5A);
    sim.SetDriverInstalled(true);
    EXPECT_TRUE(sim.DriverOpen());
    EXPECT_EQ(In(sim, UART_LSR), UART_LSR_THRE | UART_LSR_TEMT);
}
