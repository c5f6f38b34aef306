// The I/O-port guard on its own, with a recording fake behind it: nothing outside the window of the port
// under test reaches the backend, whatever is asked, and each refusal is logged once per address per run.
#include "GuardSupport.h"

#include "os/IoPortGuard.h"
#include "os/TarnKernelModeServices.h"
#include "qen/qen.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace guardtests {
namespace {

using TarnKernelModeServices::TARNSRVC_ACCESS_REFUSED;
using tarnos::CIoPortGuard;
using tarnos::UartWindow;

// COM2 and COM4 as the platform reports them; COM1, at 0x3F8, carries the kernel console.
std::vector<UartWindow> Platform() {
    return {UartWindow{0x3F8, "COM1", true}, UartWindow{0x2F8, "COM2", false},
            UartWindow{0x2E8, "COM4", false}};
}

class IoPortGuard : public ::testing::Test {
protected:
    void SetUp() override {
        qen::LoggerPriority::LOGGER_PRIORITY = 3;
        kivu5::Framework::beginRun(); // the guard's log lines join the timeline, as in a run
        m_Guard.SetReportedWindows(Platform());
    }
    void TearDown() override { qen::LoggerPriority::LOGGER_PRIORITY = 3; }

    // Reads and writes every port of the 16-bit I/O space once through the guard.
    void TouchEveryPort() {
        for (uint32_t port = 0; port <= 0xFFFF; ++port) {
            unsigned char value = 0x77;
            int rc = m_Guard.ReadByte(static_cast<unsigned short>(port), &value);
            if (rc != 0) {
                EXPECT_EQ(rc, TARNSRVC_ACCESS_REFUSED);
                EXPECT_EQ(value, 0x00) << "a refused read reads 0x00";
            }
            m_Guard.WriteByte(static_cast<unsigned short>(port), 0x5A);
        }
    }
    // Selects the port under test, then makes one read at its base, as a register test's first access:
    // the guard says why there is no window with the first refusal of a run.
    bool SelectAndTouch(const std::string& device, uint32_t base) {
        bool granted = m_Guard.SelectPortUnderTest(device, base);
        unsigned char value = 0;
        m_Guard.ReadByte(static_cast<unsigned short>(base), &value);
        return granted;
    }
    static std::vector<uint16_t> Window(uint16_t base) {
        std::vector<uint16_t> ports;
        for (uint16_t offset = 0; offset < 8; ++offset) {
            ports.push_back(static_cast<uint16_t>(base + offset));
        }
        return ports;
    }

    CRecordingPortIo m_Backend;
    CIoPortGuard m_Guard{m_Backend};
};

TEST_F(IoPortGuard, NothingReachesTheBackendBeforeAWindowIsGranted) {
    CIoPortGuard fresh(m_Backend); // the start-up state: nothing reported, nothing granted
    for (uint32_t port = 0; port <= 0xFFFF; ++port) {
        unsigned char value = 0x77;
        EXPECT_EQ(fresh.ReadByte(static_cast<unsigned short>(port), &value), TARNSRVC_ACCESS_REFUSED);
        EXPECT_EQ(fresh.WriteByte(static_cast<unsigned short>(port), 0x12), TARNSRVC_ACCESS_REFUSED);
    }
    EXPECT_TRUE(m_Backend.Ports().empty());
    EXPECT_EQ(fresh.RefusedCount(), 2u * 0x10000u);
}

TEST_F(IoPortGuard, OnlyTheEightPortsOfTheWindowUnderTestReachTheBackend) {
    ASSERT_TRUE(m_Guard.SelectPortUnderTest("COM2", 0x2F8));
    EXPECT_EQ(m_Guard.GrantedWindow(), std::optional<uint16_t>(0x2F8));
    TouchEveryPort();
    EXPECT_EQ(m_Backend.m_Reads, Window(0x2F8));
    ASSERT_EQ(m_Backend.m_Writes.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(m_Backend.m_Writes[i].first, 0x2F8 + i);
        EXPECT_EQ(m_Backend.m_Writes[i].second, 0x5A);
    }
    EXPECT_EQ(m_Guard.RefusedCount(), 2u * (0x10000u - 8u));
}

TEST_F(IoPortGuard, AConsoleWindowReportedAfterTheGrantClosesItsPortsAtOnce) {
    // The per-access answer is worked out when the grant or the reported windows change: a console reported
    // later over part of the granted window must take effect before the next access.
    ASSERT_TRUE(m_Guard.SelectPortUnderTest("COM2", 0x2F8));
    std::vector<UartWindow> platform = Platform();
    platform.push_back(UartWindow{0x2FC, "ttyS9", true});
    m_Guard.SetReportedWindows(platform);
    TouchEveryPort();
    EXPECT_EQ(m_Backend.m_Reads, (std::vector<uint16_t>{0x2F8, 0x2F9, 0x2FA, 0x2FB}));
    EXPECT_FALSE(m_Guard.Allows(0x2FC));
    EXPECT_TRUE(m_Guard.Allows(0x2FB));
}

TEST_F(IoPortGuard, TheHighestWindowReachesTheLastPortOfTheSpaceAndNoFurther) {
    m_Guard.AllowWindow(tarnos::HIGHEST_UART_WINDOW_BASE);
    ASSERT_TRUE(m_Guard.SelectPortUnderTest("COM9", tarnos::HIGHEST_UART_WINDOW_BASE));
    TouchEveryPort();
    EXPECT_EQ(m_Backend.m_Reads, Window(0xFFF8));
    EXPECT_TRUE(m_Guard.Allows(0xFFFF));
    EXPECT_FALSE(m_Guard.Allows(0x0000)); // the packed answer does not wrap round to the start
    EXPECT_FALSE(m_Guard.Allows(0xFFF7));
}

TEST_F(IoPortGuard, APassedReadGivesTheBackendsByteAndCode) {
    ASSERT_TRUE(m_Guard.SelectPortUnderTest("COM2", 0x2F8));
    unsigned char value = 0;
    EXPECT_EQ(m_Guard.ReadByte(0x2FD, &value), 0);
    EXPECT_EQ(value, 0xA5);
    EXPECT_EQ(m_Guard.WriteByte(0x2FF, 0x01), 0);
}

TEST_F(IoPortGuard, TheWindowOfAnotherReportedPortIsRefusedWhileADifferentPortIsUnderTest) {
    ASSERT_TRUE(m_Guard.SelectPortUnderTest("COM2", 0x2F8));
    for (uint16_t port : Window(0x2E8)) { // COM4's registers, reported by the platform for COM4
        unsigned char value = 0x77;
        EXPECT_EQ(m_Guard.ReadByte(port, &value), TARNSRVC_ACCESS_REFUSED);
        EXPECT_EQ(m_Guard.WriteByte(port, 0x00), TARNSRVC_ACCESS_REFUSED);
        EXPECT_FALSE(m_Guard.Allows(port));
    }
    EXPECT_TRUE(m_Backend.Ports().empty());
    // Then COM4 under test: now its window passes and COM2's does not.
    ASSERT_TRUE(m_Guard.SelectPortUnderTest("COM4", 0x2E8));
    EXPECT_TRUE(m_Guard.Allows(0x2EF));
    EXPECT_FALSE(m_Guard.Allows(0x2F8));
}

TEST_F(IoPortGuard, ADeviceClaimingAnotherPortsReportedWindowGetsNoWindow) {
    EXPECT_FALSE(SelectAndTouch("COM9", 0x2E8)); // reported for COM4, not for COM9
    EXPECT_FALSE(m_Guard.GrantedWindow());
    EXPECT_FALSE(SelectAndTouch("COM2", 0x2E8)); // a reported device, the wrong base
    EXPECT_TRUE(m_Backend.Ports().empty());
    EXPECT_EQ(LogLines(kivu5::Framework::timeline(), "I/O base"),
              (std::vector<std::string>{
                  "I/O base 0x02E8 of COM9 refused: the platform reports no UART window there for COM9 "
                  "(--allow-io adds one)",
                  "I/O base 0x02E8 of COM2 refused: the platform reports no UART window there for COM2 "
                  "(--allow-io adds one)"}));
}

TEST_F(IoPortGuard, RtcAndPciConfigurationPortsAreRefusedEvenWhenAPortClaimsThem) {
    // A hostile or broken enumeration that "reports" a UART on the RTC or on PCI configuration.
    m_Guard.SetReportedWindows({UartWindow{0x70, "COM7", false}, UartWindow{0xCF8, "COM8", false},
                                UartWindow{0xCF4, "COM6", false}, UartWindow{0xFFFC, "COM5", false}});
    m_Guard.AllowWindow(0x70); // the host never allows these (ParseAllowIo); the guard refuses them anyway
    EXPECT_FALSE(SelectAndTouch("COM7", 0x70));
    EXPECT_FALSE(SelectAndTouch("COM8", 0xCF8));
    EXPECT_FALSE(SelectAndTouch("COM6", 0xCF4));  // its window 0xCF4-0xCFB overlaps 0xCF8
    EXPECT_FALSE(SelectAndTouch("COM5", 0xFFFC)); // would run past 0xFFFF
    TouchEveryPort();
    EXPECT_TRUE(m_Backend.Ports().empty());
    EXPECT_EQ(
        LogLines(kivu5::Framework::timeline(), "I/O base"),
        (std::vector<std::string>{
            "I/O base 0x0070 of COM7 refused: 0x0070-0x0077 is in the system board's range 0x0000-0x00FF, "
            "never a serial port",
            "I/O base 0x0CF8 of COM8 refused: 0x0CF8-0x0CFF overlaps the PCI configuration and reset "
            "ports 0x0CF8-0x0CFF, never a serial port",
            "I/O base 0x0CF4 of COM6 refused: 0x0CF4-0x0CFB overlaps the PCI configuration and reset "
            "ports 0x0CF8-0x0CFF, never a serial port",
            "I/O base 0xFFFC of COM5 refused: 0xFFFC-0x10003 passes the end of the 16-bit I/O space "
            "(0x0000-0xFFFF)"}));
}

TEST_F(IoPortGuard, ForbiddenWindowsAreTheSystemBoardPciConfigurationAndTheEndOfTheSpace) {
    EXPECT_NE(tarnos::ForbiddenWindowReason(0x0000), "");
    EXPECT_NE(tarnos::ForbiddenWindowReason(0x00F8), "");
    EXPECT_EQ(tarnos::ForbiddenWindowReason(0x0100), "");
    EXPECT_EQ(tarnos::ForbiddenWindowReason(0x0CF0), ""); // ends at 0xCF7
    EXPECT_NE(tarnos::ForbiddenWindowReason(0x0CF1), "");
    EXPECT_NE(tarnos::ForbiddenWindowReason(0x0CFF), "");
    EXPECT_EQ(tarnos::ForbiddenWindowReason(0x0D00), "");
    EXPECT_EQ(tarnos::ForbiddenWindowReason(0xFFF8), "");
    EXPECT_NE(tarnos::ForbiddenWindowReason(0xFFF9), "");
    EXPECT_EQ(tarnos::ForbiddenWindowReason(0x102F8),
              "0x102F8 is beyond the 16-bit I/O space (0x0000-0xFFFF)");
}

TEST_F(IoPortGuard, ABaseWiderThan16BitsIsNotTheReportedWindowOfItsLowBits) {
    // The dispatcher would cut 0x102F8 to 0x2F8 (Part 3.1); the platform reported 0x2F8, not 0x102F8.
    EXPECT_FALSE(m_Guard.SelectPortUnderTest("COM2", 0x102F8));
    EXPECT_FALSE(m_Guard.Allows(0x2F8));
}

TEST_F(IoPortGuard, TheConsoleWindowIsNeverGrantedNotEvenWhenAllowed) {
    m_Guard.AllowWindow(0x3F8);
    m_Guard.AllowWindow(0x3F4); // overlaps the console's 0x3F8-0x3FF
    EXPECT_FALSE(SelectAndTouch("COM1", 0x3F8));
    EXPECT_FALSE(SelectAndTouch("COM3", 0x3F4));
    TouchEveryPort();
    EXPECT_TRUE(m_Backend.Ports().empty());
    std::vector<std::string> lines = LogLines(kivu5::Framework::timeline(), "I/O base");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "I/O base 0x03F8 of COM1 refused: 0x03F8-0x03FF overlaps the UART of the kernel console, "
              "never accessed, not even with --allow-io");
    EXPECT_EQ(lines[1],
              "I/O base 0x03F4 of COM3 refused: 0x03F4-0x03FB overlaps the UART of the kernel console, "
              "never accessed, not even with --allow-io");
}

TEST_F(IoPortGuard, AnAllowedWindowIsGrantedToAnyPortThatClaimsIt) {
    EXPECT_FALSE(m_Guard.SelectPortUnderTest("COM9", 0x3E8));
    m_Guard.AllowWindow(0x3E8);
    EXPECT_TRUE(m_Guard.SelectPortUnderTest("COM9", 0x3E8));
    TouchEveryPort();
    EXPECT_EQ(m_Backend.m_Reads, Window(0x3E8));
}

TEST_F(IoPortGuard, WhyThereIsNoWindowIsLoggedOnceWithTheRunsFirstRefusalOnly) {
    EXPECT_FALSE(m_Guard.SelectPortUnderTest("COM9", 0x2E8));
    EXPECT_TRUE(LogLines(kivu5::Framework::timeline(), "I/O").empty())
        << "a run that touches nothing says nothing";
    unsigned char value = 0;
    m_Guard.ReadByte(0x2ED, &value);
    m_Guard.ReadByte(0x2EE, &value);
    EXPECT_EQ(
        LogLines(kivu5::Framework::timeline(), "I/O"),
        (std::vector<std::string>{"I/O base 0x02E8 of COM9 refused: the platform reports no UART window "
                                  "there for COM9 (--allow-io adds one)",
                                  OutsideLine("0x02ED"), OutsideLine("0x02EE")}));
    kivu5::Framework::beginRun();
    EXPECT_FALSE(m_Guard.SelectPortUnderTest("COM9", 0x2E8)); // the next run, an external test: no access
    ASSERT_TRUE(m_Guard.SelectPortUnderTest("COM2", 0x2F8));  // then the next run, with its window
    m_Guard.ReadByte(0x2ED, &value);
    EXPECT_EQ(LogLines(kivu5::Framework::timeline(), "I/O"), std::vector<std::string>{OutsideLine("0x02ED")})
        << "COM2's run has its window; COM9's reason is not carried over";
}

TEST_F(IoPortGuard, NoBaseGrantsNothingAndLogsNothing) {
    ASSERT_TRUE(m_Guard.SelectPortUnderTest("COM2", 0x2F8));
    EXPECT_FALSE(m_Guard.SelectPortUnderTest("COM33", std::nullopt));
    EXPECT_FALSE(m_Guard.GrantedWindow());
    EXPECT_FALSE(m_Guard.Allows(0x2F8));
    EXPECT_TRUE(LogLines(kivu5::Framework::timeline(), "I/O base").empty());
}

TEST_F(IoPortGuard, ARefusedAccessIsLoggedOncePerAddressPerRunWithTheExactLine) {
    ASSERT_TRUE(m_Guard.SelectPortUnderTest("COM2", 0x2F8));
    unsigned char value = 0;
    for (int i = 0; i < 3; ++i) {
        m_Guard.ReadByte(0x70, &value);
        m_Guard.WriteByte(0x70, 0x8F); // the NMI mask and CMOS index a typo could reach
        m_Guard.WriteByte(0xCF8, 0x00);
        m_Guard.ReadByte(0x3F8, &value);
    }
    EXPECT_EQ(LogLines(kivu5::Framework::timeline(), "I/O port"),
              (std::vector<std::string>{OutsideLine("0x0070"), OutsideLine("0x0CF8"),
                                        "I/O port 0x03F8 refused: the UART of the kernel console is never "
                                        "accessed"}));
    EXPECT_EQ(m_Guard.RefusedCount(), 12u);
    // The next run logs its refusals again.
    kivu5::Framework::beginRun();
    ASSERT_TRUE(m_Guard.SelectPortUnderTest("COM4", 0x2E8));
    m_Guard.ReadByte(0x70, &value);
    EXPECT_EQ(LogLines(kivu5::Framework::timeline(), "I/O port"),
              std::vector<std::string>{OutsideLine("0x0070")});
    EXPECT_EQ(m_Guard.RefusedCount(), 1u);
}

TEST_F(IoPortGuard, AtMostSixteenAddressesAreLoggedPerRunThenOneLineSaysSo) {
    ASSERT_TRUE(m_Guard.SelectPortUnderTest("COM2", 0x2F8));
    TouchEveryPort();
    std::vector<std::string> lines = LogLines(kivu5::Framework::timeline(), "I/O port");
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(lines[0], OutsideLine("0x0000"));
    EXPECT_EQ(lines[15], OutsideLine("0x000F"));
    EXPECT_EQ(lines[16], "I/O port refusals: more than 16 addresses in this run, the others are not logged");
    EXPECT_EQ(m_Guard.RefusedCount(), 2u * (0x10000u - 8u)) << "all counted";
}

TEST_F(IoPortGuard, TheLineOnStandardErrorOrTheLogFileNamesTheGuardAndPriority4) {
    std::string path = ::testing::TempDir() + "tarn-guard-log-" + std::to_string(getpid()) + ".txt";
    std::remove(path.c_str());
    ASSERT_TRUE(qen::LogSink::setFile(path.c_str()));
    ASSERT_TRUE(m_Guard.SelectPortUnderTest("COM2", 0x2F8));
    unsigned char value = 0;
    m_Guard.ReadByte(0x70, &value);
    qen::LogSink::setFile(nullptr);
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    std::string line = text.str();
    std::string expected = " IoPortGuard P4 " + OutsideLine("0x0070") + "\n";
    ASSERT_GE(line.size(), expected.size());
    EXPECT_EQ(line.substr(line.size() - expected.size()), expected) << line;
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line";
    std::remove(path.c_str());
}

TEST_F(IoPortGuard, LogPriority5SilencesTheLinesButStillRefuses) {
    qen::LoggerPriority::LOGGER_PRIORITY = 5;
    ASSERT_TRUE(m_Guard.SelectPortUnderTest("COM2", 0x2F8));
    unsigned char value = 0;
    EXPECT_EQ(m_Guard.ReadByte(0x70, &value), TARNSRVC_ACCESS_REFUSED);
    EXPECT_TRUE(LogLines(kivu5::Framework::timeline(), "I/O port").empty());
    qen::LoggerPriority::LOGGER_PRIORITY = 4;
    EXPECT_EQ(m_Guard.ReadByte(0x71, &value), TARNSRVC_ACCESS_REFUSED);
    EXPECT_EQ(LogLines(kivu5::Framework::timeline(), "I/O port"),
              std::vector<std::string>{OutsideLine("0x0071")});
}

TEST_F(IoPortGuard, TheDriverCheckIsTheBackendsOwn) {
    // With nothing granted too: a refused window is no missing driver ("TARN Driver not installed!").
    EXPECT_TRUE(m_Guard.DriverOpen());
    struct CClosedDriver final : tarnos::IPortIoBackend {
        bool DriverOpen() override { return false; }
        int ReadByte(unsigned short, unsigned char*) override { return 1; }
        int WriteByte(unsigned short, unsigned char) override { return 1; }
    } closed;
    CIoPortGuard guard(closed);
    EXPECT_FALSE(guard.DriverOpen());
}

TEST_F(IoPortGuard, ResetForgetsEverything) {
    m_Guard.AllowWindow(0x3E8);
    ASSERT_TRUE(m_Guard.SelectPortUnderTest("COM2", 0x2F8));
    m_Guard.Reset();
    EXPECT_FALSE(m_Guard.GrantedWindow());
    EXPECT_FALSE(m_Guard.SelectPortUnderTest("COM2", 0x2F8));
    EXPECT_FALSE(m_Guard.SelectPortUnderTest("COM9", 0x3E8));
}

TEST_F(IoPortGuard, TheRealBackendIsTheGuardAndStartsClosed) {
    EXPECT_EQ(&tarnos::RealPortIoBackend(), static_cast<tarnos::IPortIoBackend*>(&tarnos::RealPortIoGuard()));
    EXPECT_FALSE(tarnos::RealPortIoGuard().GrantedWindow());
}

} // namespace
} // namespace guardtests
