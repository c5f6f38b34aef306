// Virtual time and the seam: Sleep and GetTickCount, a tick counter near its wrap, and the simulation
// answering the module's calls once installed.
#include "SimTestHelpers.h"

#include "os/OsBackend.h"
#include "os/OsSeam.h"
#include "os/TarnKernelModeServices.h"

#include <gtest/gtest.h>

using namespace tarnsimtest;
using tarnsim::CSimulation;
namespace kms = TarnKernelModeServices;

TEST(SimVirtualClock, SleepAdvancesTheTickCountByItsMilliseconds) {
    CSimulation sim(OnePort());
    const DWORD start = sim.GetTickCount();
    sim.Sleep(350);
    EXPECT_EQ(sim.GetTickCount() - start, 350u);
    EXPECT_EQ(sim.Clock().NowUs(), 350000u);
}

TEST(SimVirtualClock, TickCountWrapsFromTheOriginTestsSet) {
    CSimulation sim(OnePort());
    sim.Clock().SetTickOrigin(0xFFFFFFF0u);
    EXPECT_EQ(sim.GetTickCount(), 0xFFFFFFF0u);
    sim.Sleep(0x20);
    EXPECT_EQ(sim.GetTickCount(), 0x10u);
    EXPECT_EQ(sim.GetTickCount() - 0xFFFFFFF0u, 0x20u); // the unsigned difference of Part 5.3 still works
}

TEST(SimVirtualClock, TickCountCountsWholeMilliseconds) {
    CSimulation sim(OnePort());
    sim.Clock().AdvanceUs(999);
    EXPECT_EQ(sim.GetTickCount(), 0u);
    sim.Clock().AdvanceUs(1);
    EXPECT_EQ(sim.GetTickCount(), 1u);
}

TEST(SimSeam, InstalledSimulationAnswersTheSeamCalls) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), tarnsim::AttachedConfig::Loopback()));
    sim.Install();
    EXPECT_EQ(&tarnos::Win32Backend(), &sim);
    EXPECT_EQ(&tarnos::PortIoBackend(), &sim);
    tarnos::Sleep(5);
    EXPECT_EQ(tarnos::GetTickCount(), 5u);
    EXPECT_NE(kms::TarnSrvcIO.DriverOpened(kms::TARNSRVC_KEY), 0);
    unsigned char value = 0;
    EXPECT_EQ(kms::TarnSrvcIO.PortReadByte(BASE + UART_LSR, &value), kms::TARNSRVC_SUCCESS);
    EXPECT_EQ(value, UART_LSR_THRE | UART_LSR_TEMT);
    HANDLE handle = tarnos::CreateFileW(L"\\\\.\\COM2", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(tarnos::CloseHandle(handle));
    sim.Uninstall();
}

TEST(SimSeam, UninstallingAnOlderSimulationLeavesTheNewerOneInstalled) {
    CSimulation older(OnePort());
    older.Install();
    CSimulation newer(OnePort());
    newer.Install();
    older.Uninstall();
    EXPECT_EQ(&tarnos::Win32Backend(), &newer);
    newer.Uninstall();
}

// Part 5.3's transmit and receive waits for every byte value at 115200 bit/s, through the kernel-mode
// services library: each poll costs a microsecond, so the waits end and each byte comes back.
TEST(SimSeam, Part53BusyPollsEndInVirtualTime) {
    CSimulation sim(OnePort());
    sim.Install();
    ProgramLoopback(sim, 1);
    const unsigned short lsr = BASE + UART_LSR;
    const unsigned short data = BASE + UART_TX;
    for (unsigned v = 0; v < 256; ++v) {
        unsigned char status = 0;
        const DWORD t0 = tarnos::GetTickCount();
        do {
            kms::TarnSrvcIO.PortReadByte(lsr, &status);
            ASSERT_LE(tarnos::GetTickCount() - t0, 3000u);
        } while (!(status & UART_LSR_THRE));
        kms::TarnSrvcIO.PortWriteByte(data, static_cast<unsigned char>(v));
        const DWORD t1 = tarnos::GetTickCount();
        do {
            kms::TarnSrvcIO.PortReadByte(lsr, &status);
            ASSERT_LE(tarnos::GetTickCount() - t1, 3000u);
        } while (!(status & UART_LSR_DR));
        unsigned char received = 0;
        kms::TarnSrvcIO.PortReadByte(data, &received);
        EXPECT_EQ(received, v);
    }
    // 256 characters of 96 us each, and a few accesses per byte besides.
    EXPECT_GE(sim.Clock().NowUs(), 256u * ElevenBitCharUs(1));
    EXPECT_LT(sim.Clock().NowUs(), 256u * (ElevenBitCharUs(1) + 10));
    sim.Uninstall();
}
