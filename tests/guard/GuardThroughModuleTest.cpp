// The guard end to end, through the module: CSerialPort's register access (Part 4.1) and whole test runs.
// The real Linux port-I/O backend (the guard in front of DevPortIo) works on a 64 KiB temporary file in
// place of /dev/port, never the real one; the Win32 side of those runs is the simulator's (virtual time,
// no real port is opened). Where the inner backend is the simulator, a recording fake between the guard
// and it shows every access that got through.
#include "GuardSupport.h"

#include "host/IoGuardSetup.h"
#include "os/CallTrace.h"
#include "os/IoPortGuard.h"
#include "os/backends/posix/DevPortPath.h"
#include "support/SimFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include <fcntl.h>
#include <unistd.h>

// Last: its Win32 names are macros for the seam (os/Win32.h), which would rename the simulator's members.
#include "SerialPort.h"

namespace guardtests {
namespace {

using tarnos::UartWindow;

// Bytes no register test writes by chance: the file must read back exactly this afterwards.
unsigned char Pattern(size_t offset) {
    return static_cast<unsigned char>((offset * 7 + 3) & 0xFF);
}

class GuardThroughModule : public tarntest::SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        char name[] = "/tmp/tarn-guard-devport-XXXXXX";
        m_Fd = mkstemp(name);
        ASSERT_GE(m_Fd, 0);
        m_Path = name;
        std::vector<unsigned char> bytes(0x10000);
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = Pattern(i);
        }
        ASSERT_EQ(pwrite(m_Fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
        tarnos::posix::SetDevPortPath(m_Path);
        // The platform reports COM2 at 0x2F8; COM1 at 0x3F8 carries the console.
        tarnos::RealPortIoGuard().Reset();
        tarnos::RealPortIoGuard().SetReportedWindows(
            {UartWindow{0x3F8, "COM1", true}, UartWindow{0x2F8, "COM2", false}});
    }
    void TearDown() override {
        SimTest::TearDown();
        tarnos::SetBackends(nullptr, nullptr);
        tarnos::posix::SetDevPortPath("/nonexistent/tarn-tests/no-dev-port");
        tarnos::RealPortIoGuard().Reset();
        if (m_Fd >= 0) {
            close(m_Fd);
            unlink(m_Path.c_str());
        }
    }

    // The simulator for the Win32 calls (and the ports' names and properties); the real guarded backend
    // on the temporary file for the I/O ports.
    kivu5::DiagDevice UseSimulatedComPortAndRealIoPorts(uint32_t com, uint32_t base) {
        tarnsim::Scenario scenario;
        tarnsim::PortConfig port;
        port.com = com;
        port.io = std::vector<uint32_t>{base};
        scenario.ports = {port};
        Use(scenario);
        tarnos::SetBackends(&Sim(), nullptr);
        return tarnsim::MakeDevice(port);
    }

    unsigned char FileByte(size_t offset) const {
        unsigned char value = 0;
        EXPECT_EQ(pread(m_Fd, &value, 1, static_cast<off_t>(offset)), 1);
        return value;
    }
    // Offsets whose byte differs from the pattern.
    std::vector<size_t> ChangedBytes() const {
        std::vector<unsigned char> bytes(0x10000);
        EXPECT_EQ(pread(m_Fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
        std::vector<size_t> changed;
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] != Pattern(i)) {
                changed.push_back(i);
            }
        }
        return changed;
    }
    // The kernel-mode services library's transfers and their return codes, from the call trace.
    static std::set<std::string> TransferCodes() {
        std::set<std::string> codes;
        for (const tarnos::TraceEntry& entry :
             tarnos::CallTrace::Instance().Only({"PortReadByte", "PortWriteByte"})) {
            codes.insert(entry.call + " " + entry.result.substr(0, entry.result.find(' ')));
        }
        return codes;
    }

    int m_Fd = -1;
    std::string m_Path;
};

TEST_F(GuardThroughModule, ReadRegisterGivesZeroForARefusedAddressAndWriteRegisterWritesNothing) {
    tarnos::SetBackends(nullptr, nullptr); // the real backends; CSerialPort opens no COM port here
    ASSERT_TRUE(tarnos::RealPortIoGuard().SelectPortUnderTest("COM2", 0x2F8));
    CSerialPort port(2, 0x2F8);
    ASSERT_NE(FileByte(0x70), 0x00);
    EXPECT_EQ(port.ReadRegister(0x70), 0x00) << "the RTC's index port, outside the window";
    EXPECT_EQ(port.ReadRegister(0xCF8), 0x00);
    EXPECT_EQ(port.ReadRegister(0x3FD), 0x00) << "the console's LSR";
    EXPECT_EQ(port.ReadRegister(0x2E8), 0x00) << "a UART the platform does not report";
    EXPECT_EQ(port.ReadRegister(0x2FD), Pattern(0x2FD)) << "inside the window the file answers";
    port.WriteRegister(0x70, 0x8F);
    port.WriteRegister(0xCF9, 0x06); // what a reset through the PCI reset control register would write
    port.WriteRegister(0x3FC, 0x10);
    EXPECT_TRUE(ChangedBytes().empty());
    port.WriteRegister(0x2FC, 0x13);
    EXPECT_EQ(ChangedBytes(), std::vector<size_t>{0x2FC});
}

TEST_F(GuardThroughModule, InternalRegisterTestOnADeviceClaimingTheRtcTouchesNothingReal) {
    kivu5::DiagDevice device = UseSimulatedComPortAndRealIoPorts(9, 0x70);
    EXPECT_FALSE(tarnhost::NarrowIoGuard(tarnos::RealPortIoGuard(), device));
    kivu5::RunOutcome outcome = Run("InternalRegisterTest", device);
    // Part 5.1: a failed read yields 0x00 and pulls the test towards a pass; the log lines say why.
    EXPECT_STREQ(outcome.result.name(), "PASS");
    EXPECT_TRUE(ChangedBytes().empty());
    EXPECT_EQ(TransferCodes(), std::set<std::string>{"PortReadByte 3"}) << "every read refused, no write";
    EXPECT_EQ(
        LogLines(outcome.timeline, "I/O base"),
        std::vector<std::string>{"I/O base 0x0070 of COM9 refused: 0x0070-0x0077 is in the system board's "
                                 "range 0x0000-0x00FF, never a serial port"});
    EXPECT_EQ(LogLines(outcome.timeline, "I/O port"),
              (std::vector<std::string>{OutsideLine("0x0077"), OutsideLine("0x0076"), OutsideLine("0x0075"),
                                        OutsideLine("0x0074"), OutsideLine("0x0073"), OutsideLine("0x0072"),
                                        OutsideLine("0x0071"), OutsideLine("0x0070")}));
}

TEST_F(GuardThroughModule, AnExternalTestOnTheSameDeviceTouchesNoRegisterAndLogsNothingOfTheGuard) {
    kivu5::DiagDevice device = UseSimulatedComPortAndRealIoPorts(9, 0x70);
    EXPECT_FALSE(tarnhost::NarrowIoGuard(tarnos::RealPortIoGuard(), device));
    kivu5::RunOutcome outcome = Run("ExternalRegisterTest", device);
    EXPECT_TRUE(LogLines(outcome.timeline, "I/O").empty());
    EXPECT_TRUE(TransferCodes().empty());
    EXPECT_TRUE(ChangedBytes().empty());
}

TEST_F(GuardThroughModule, InternalControlSignalsTestOnADeviceClaimingPciConfigurationWritesNothing) {
    kivu5::DiagDevice device = UseSimulatedComPortAndRealIoPorts(8, 0xCF8);
    EXPECT_FALSE(tarnhost::NarrowIoGuard(tarnos::RealPortIoGuard(), device));
    kivu5::RunOutcome outcome = Run("InternalControlSignalsTest", device);
    EXPECT_STREQ(outcome.result.name(), "FAIL"); // the MSR reads 0x00 for every combination
    EXPECT_TRUE(ChangedBytes().empty());
    EXPECT_EQ(TransferCodes(), (std::set<std::string>{"PortReadByte 3", "PortWriteByte 3"}));
    std::vector<std::string> lines = LogLines(outcome.timeline, "I/O port");
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size()) << "once per address";
    EXPECT_NE(std::find(lines.begin(), lines.end(), OutsideLine("0x0CFC")), lines.end()) << "the MCR";
    EXPECT_NE(std::find(lines.begin(), lines.end(), OutsideLine("0x0CFE")), lines.end()) << "the MSR";
    EXPECT_GT(tarnos::RealPortIoGuard().RefusedCount(), lines.size()) << "MCR written 16 times, logged once";
}

TEST_F(GuardThroughModule, TheReportedPortUnderTestReachesOnlyItsOwnWindow) {
    kivu5::DiagDevice device = UseSimulatedComPortAndRealIoPorts(2, 0x2F8);
    ASSERT_TRUE(tarnhost::NarrowIoGuard(tarnos::RealPortIoGuard(), device));
    kivu5::RunOutcome outcome = Run("InternalControlSignalsTest", device);
    for (size_t offset : ChangedBytes()) {
        EXPECT_GE(offset, 0x2F8u);
        EXPECT_LT(offset, 0x300u);
    }
    EXPECT_EQ(TransferCodes(), (std::set<std::string>{"PortReadByte 0", "PortWriteByte 0"})) << "all passed";
    EXPECT_TRUE(LogLines(outcome.timeline, "I/O port").empty());
}

TEST_F(GuardThroughModule, TheConsolesPortIsRefusedEvenWhenADeviceClaimsIt) {
    kivu5::DiagDevice device = UseSimulatedComPortAndRealIoPorts(1, 0x3F8);
    EXPECT_FALSE(tarnhost::NarrowIoGuard(tarnos::RealPortIoGuard(), device));
    kivu5::RunOutcome outcome = Run("InternalControlSignalsTest", device);
    EXPECT_TRUE(ChangedBytes().empty());
    std::vector<std::string> lines = LogLines(outcome.timeline, "I/O port");
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines) {
        EXPECT_NE(line.find(" refused: the UART of the kernel console is never accessed"), std::string::npos)
            << line;
    }
}

// The simulator as the hardware behind the guard (a UART answers at 0x70 too), a recording fake between.
class GuardBeforeSimulatedHardware : public tarntest::SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        tarnsim::Scenario scenario;
        for (auto port : {std::make_pair(2u, 0x2F8u), std::make_pair(7u, 0x70u)}) {
            tarnsim::PortConfig config;
            config.com = port.first;
            config.io = std::vector<uint32_t>{port.second};
            scenario.ports.push_back(config);
        }
        Use(scenario);
        m_Recorder.reset(new CRecordingPortIo(&Sim()));
        m_Guard.reset(new tarnos::CIoPortGuard(*m_Recorder));
        m_Guard->SetReportedWindows({UartWindow{0x2F8, "COM2", false}});
    }
    void Guarded() { tarnos::SetBackends(&Sim(), m_Guard.get()); }
    void Unguarded() { tarnos::SetBackends(&Sim(), m_Recorder.get()); }
    kivu5::DiagDevice Device(size_t index) {
        return tarnsim::MakeDevice(Sim().GetScenario().ports.at(index));
    }

    std::unique_ptr<CRecordingPortIo> m_Recorder;
    std::unique_ptr<tarnos::CIoPortGuard> m_Guard;
};

TEST_F(GuardBeforeSimulatedHardware, WithoutTheGuardAUartAt0x70WouldBeDriven) {
    Unguarded(); // the control: the same run with nothing in front of the hardware
    EXPECT_STREQ(Run("InternalControlSignalsTest", Device(1)).result.name(), "PASS");
    EXPECT_FALSE(m_Recorder->Ports().empty());
}

TEST_F(GuardBeforeSimulatedHardware, NoAccessOutsideTheWindowReachesTheHardware) {
    Guarded();
    for (const char* test : {"InternalRegisterTest", "InternalControlSignalsTest"}) {
        ASSERT_FALSE(tarnhost::NarrowIoGuard(*m_Guard, Device(1)));
        Run(test, Device(1));
        EXPECT_TRUE(m_Recorder->Ports().empty()) << test;
    }
    ASSERT_TRUE(tarnhost::NarrowIoGuard(*m_Guard, Device(0)));
    EXPECT_STREQ(Run("InternalControlSignalsTest", Device(0)).result.name(), "PASS");
    ASSERT_FALSE(m_Recorder->Ports().empty());
    for (uint16_t port : m_Recorder->Ports()) {
        EXPECT_GE(port, 0x2F8);
        EXPECT_LT(port, 0x300);
    }
}

} // namespace
} // namespace guardtests
