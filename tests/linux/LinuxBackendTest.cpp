// The Linux backend as the module meets it, on pseudo-terminals (never this machine's serial ports), a
// file standing in for the I/O space, and a fake sysfs tree: the Win32 answers a Windows driver gives.
#include "os/linux/LinuxBackend.h"
#include "host/DevicesLinux.h"
#include "host/HostError.h"
#include "host/IoGuardSetup.h"
#include "host/Selection.h"
#include "os/IoPortGuard.h"
#include "os/OsBackend.h"
#include "os/TarnKernelModeServices.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace tarntest {
namespace {

tarnos::IWin32Backend& Os() {
    return tarnos::RealWin32Backend();
}

// A folder of this test's own under the test temporary folder, named by the test and this process so
// parallel runs never share it; removed with everything in it when the test ends, failed or not.
class CScratchFolder {
public:
    CScratchFolder() {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        m_Path = std::filesystem::path(testing::TempDir()) /
                 ("tarn-" + std::string(test->name()) + "-" + std::to_string(getpid()));
        std::filesystem::remove_all(m_Path);
        std::filesystem::create_directories(m_Path);
    }
    ~CScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_Path, ignored);
    }
    std::string operator/(const std::string& name) const { return (m_Path / name).string(); }
    std::string Path() const { return m_Path.string(); }

private:
    std::filesystem::path m_Path;
};

// A pseudo-terminal mapped as COM7: the slave stands in for the port, the master for the far end.
class CPtyPort {
public:
    CPtyPort() {
        char name[256] = {};
        EXPECT_EQ(openpty(&m_Master, &m_Slave, name, nullptr, nullptr), 0);
        tarnos::ClearComPortMap();
        tarnos::MapComPort(7, name);
    }
    ~CPtyPort() {
        tarnos::ClearComPortMap();
        if (m_Master >= 0) {
            close(m_Master);
        }
        close(m_Slave);
    }
    static HANDLE Open(const wchar_t* name = L"\\\\.\\COM7", DWORD disposition = OPEN_EXISTING) {
        return Os().CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
    }
    // What arrives at the far end within a second.
    std::string Received(size_t count) {
        std::string bytes;
        while (bytes.size() < count) {
            pollfd ready = {m_Master, POLLIN, 0};
            char chunk[512];
            ssize_t got = poll(&ready, 1, 1000) == 1 ? read(m_Master, chunk, sizeof chunk) : -1;
            if (got <= 0) {
                break;
            }
            bytes.append(chunk, static_cast<size_t>(got));
        }
        return bytes;
    }
    void Send(const std::string& bytes) {
        EXPECT_EQ(write(m_Master, bytes.data(), bytes.size()), (ssize_t)bytes.size());
    }
    void HangUp() {
        close(m_Master);
        m_Master = -1;
    }

private:
    int m_Master = -1;
    int m_Slave = -1;
};

TEST(LinuxComPort, OpensOnlyWhatIsMappedOnceAndExclusively) {
    CPtyPort pty;
    struct Case {
        const wchar_t* name;
        DWORD disposition;
        DWORD error;
    };
    const Case refused[] = {{L"\\\\.\\COM3", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
                            {L"\\\\.\\COM7X", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
                            {L"\\\\.\\COM7", 2 /* CREATE_ALWAYS */, ERROR_INVALID_PARAMETER}};
    for (const Case& c : refused) {
        EXPECT_EQ(CPtyPort::Open(c.name, c.disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(Os().GetLastError(), c.error);
    }
    HANDLE handle = CPtyPort::Open();
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CPtyPort::Open(), INVALID_HANDLE_VALUE) << "a second open while it is open";
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(Os().CloseHandle(handle));
    EXPECT_FALSE(Os().CloseHandle(handle));
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    tarnos::MapComPort(9, "/dev/tty"); // the controlling terminal is never opened as a port
    EXPECT_EQ(CPtyPort::Open(L"\\\\.\\COM9"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(LinuxComPort, ConfiguresReadsWritesAndReportsLikeAWindowsDriver) {
    CPtyPort pty;
    HANDLE handle = CPtyPort::Open();
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(Os().GetCommState(handle, &dcb));
    EXPECT_TRUE(Os().BuildCommDCBW(L"baud=9600 parity=N data=8 stop=1", &dcb));
    EXPECT_TRUE(Os().SetCommState(handle, &dcb));
    DCB back = {};
    back.DCBlength = sizeof back;
    ASSERT_TRUE(Os().GetCommState(handle, &back));
    EXPECT_EQ(back.BaudRate, 9600u);
    EXPECT_EQ(back.ByteSize, 8);
    EXPECT_EQ(back.StopBits, ONESTOPBIT);
    for (DWORD unsettable : {14400u, 56000u, 128000u}) { // no termios speed of their own
        DCB odd = back;
        odd.BaudRate = unsettable;
        EXPECT_FALSE(Os().SetCommState(handle, &odd)) << unsettable;
        EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 1000};
    EXPECT_TRUE(Os().SetCommTimeouts(handle, &timeouts));

    COMMPROP properties = {};
    ASSERT_TRUE(Os().GetCommProperties(handle, &properties));
    EXPECT_EQ(properties.dwProvSubType, static_cast<DWORD>(PST_RS232));
    EXPECT_EQ(properties.dwSettableBaud & 0x7FB50u, 0x66B50u) << "the twelve, less 14400, 56000, 128000";
    DWORD status = 0xFF;
    EXPECT_FALSE(Os().GetCommModemStatus(handle, &status)) << "a pseudo-terminal has no modem lines";
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));

    char buffer[512];
    DWORD count = 99;
    EXPECT_TRUE(Os().ReadFile(handle, buffer, sizeof buffer, &count, nullptr)) << "nothing yet: at once";
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(Os().WriteFile(handle, "ramp\x01\x02\x11\x13", 8, &count, nullptr));
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(pty.Received(8), std::string("ramp\x01\x02\x11\x13", 8)) << "raw: XON and XOFF pass";
    pty.Send("echo");
    EXPECT_TRUE(Os().ReadFile(handle, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(std::string(buffer, count), "echo");

    pty.HangUp(); // the cable pulled out
    EXPECT_FALSE(Os().ReadFile(handle, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_TRUE(Os().CloseHandle(handle));
}

TEST(LinuxPortIo, ReachesTheIoSpaceOnlyThroughTheGrantedWindow) {
    CScratchFolder scratch;
    const std::string path = scratch / "io-space";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 0x10000), 0);
    tarnos::SetIopermCall([](unsigned long, unsigned long, int) { return -1; }); // never the real one
    tarnos::SetDevPortPath(path);
    tarnos::CIoPortGuard& guard = tarnos::RealPortIoGuard();
    guard.SetReportedWindows({{0x2F8, "COM2", false}});
    ASSERT_TRUE(guard.SelectPortUnderTest("COM2", 0x2F8));
    using TarnKernelModeServices::TarnSrvcIO;
    EXPECT_NE(TarnSrvcIO.DriverOpened(TarnKernelModeServices::TARNSRVC_KEY), 0);
    EXPECT_EQ(TarnSrvcIO.PortWriteByte(0x2FB, 0x87), TarnKernelModeServices::TARNSRVC_SUCCESS);
    EXPECT_NE(TarnSrvcIO.PortWriteByte(0x300, 0x55), TarnKernelModeServices::TARNSRVC_SUCCESS);
    unsigned char value = 0;
    EXPECT_EQ(TarnSrvcIO.PortReadByte(0x2FB, &value), TarnKernelModeServices::TARNSRVC_SUCCESS);
    EXPECT_EQ(value, 0x87);
    unsigned char space[2] = {};
    ASSERT_EQ(pread(fd, space, 1, 0x2FB), 1);
    ASSERT_EQ(pread(fd, space + 1, 1, 0x300), 1);
    EXPECT_EQ(space[0], 0x87) << "written at its own offset of the I/O space";
    EXPECT_EQ(space[1], 0x00) << "the refused write never reached the I/O space";
    guard.Reset();
    tarnos::SetDevPortPath("/nonexistent/port");
    close(fd);
}

TEST(LinuxDevices, SysfsGivesComNumbersBasesAndKeepsTheConsoleOffSayingWhy) {
    CScratchFolder root;
    auto port = [&](const std::string& name, const char* type, const char* io, const char* ioType) {
        std::string dir = root / name;
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "/type") << type << "\n";
        std::ofstream(dir + "/port") << io << "\n";
        std::ofstream(dir + "/io_type") << ioType << "\n";
    };
    port("ttyS0", "4", "0x3F8", "0");
    port("ttyS1", "12", "0x2F8", "0");     // a UART type whose FIFO setting this program does not know
    port("ttyS2", "0", "0x3E8", "0");      // no UART there
    port("ttyS4", "4", "0xFE000000", "2"); // memory-mapped: no I/O base
    for (const char* adapter : {"ttyUSB10", "ttyACM1", "ttyUSB0", "ttyUSB2"}) {
        std::filesystem::create_directories(root / adapter + "/device");
    }
    tarnhost::PlatformPorts ports = tarnhost::LinuxPlatformPorts(
        root.Path(), [](const std::string& node) { return node == "/dev/ttyS0"; });
    std::string listed;
    for (const tarnhost::HostDevice& host : ports.devices) {
        const kivu5::DeviceProperty* io = host.device.property("IoBaseAddresses");
        listed += host.device.name() + "=" + host.osDevice +
                  (io ? "@" + std::to_string(io->value().getUint32InArray(0)) : "") + " ";
    }
    EXPECT_EQ(listed, "COM2=/dev/ttyS1@760 COM5=/dev/ttyS4 COM33=/dev/ttyACM1 COM34=/dev/ttyUSB0 "
                      "COM35=/dev/ttyUSB2 COM36=/dev/ttyUSB10 ");
    EXPECT_EQ(ports.devices[0].fifoSource,
              "the 8250 driver's setting for a UART of type 12 is not known here");
    EXPECT_EQ(ports.devices[1].fifoSource, "the 8250 driver's for a 16550A");
    ASSERT_EQ(ports.windows.size(), 2u);
    EXPECT_EQ(ports.windows[0].base + ports.windows[0].console, 0x3F8u + 1) << "the console's, flagged";
    EXPECT_EQ(ports.windows[1].base + ports.windows[1].console, 0x2F8u);
    std::string leftOut;
    for (const tarnhost::LeftOutPort& left : ports.leftOut) {
        leftOut += left.osDevice + ": " + left.reason + "; ";
    }
    EXPECT_EQ(leftOut, "/dev/ttyS0: the kernel console; /dev/ttyS2: no UART found; ");
}

TEST(LinuxDevices, DevicesAreChosenByComNameInAnyCaseOrByTheirNode) {
    auto host = [](const char* name, const char* os) {
        return tarnhost::HostDevice{kivu5::DiagDevice(name), os};
    };
    const std::vector<tarnhost::HostDevice> found = {host("COM2", "/dev/ttyS1"),
                                                     host("COM7", "simulated (UART 16550A)"),
                                                     host("COM3", "\\\\.\\COM3 (Communications Port)")};
    std::string chosen;
    for (const tarnhost::HostDevice& device :
         tarnhost::SelectDevices(found, {"\\\\.\\COM3", "/dev/ttyS1", "com7"})) {
        chosen += device.device.name() + " ";
    }
    EXPECT_EQ(chosen, "COM3 COM2 COM7 ");
    for (const char* unknown : {"/dev/ttyS2", "simulated", "COM", "/dev/ttyS1 (x)"}) {
        EXPECT_THROW(tarnhost::SelectDevices(found, {unknown}), tarnhost::CHostInputError) << unknown;
    }
}

TEST(LinuxPortIo, AllowIoAddsWindowsButNeverTheConsolesAndEachRunGetsItsDevicesWindow) {
    class CNoHardware final : public tarnos::IPortIoBackend {
        bool DriverOpen() override { return true; }
        int ReadByte(unsigned short, unsigned char* value) override { return *value = 0, 0; }
        int WriteByte(unsigned short, unsigned char) override { return 0; }
    } hardware;
    tarnos::CIoPortGuard guard(hardware);
    const std::vector<tarnos::UartWindow> platform = {{0x3F8, "COM1", true}, {0x2F8, "COM2", false}};
    for (uint32_t console : {0x3F8u, 0x3FCu}) {
        EXPECT_THROW(tarnhost::ConfigureIoGuard(guard, platform, {console}, stderr),
                     tarnhost::CHostInputError);
    }
    std::FILE* warnings = std::tmpfile();
    tarnhost::ConfigureIoGuard(guard, platform, {0x2E8}, warnings);
    std::rewind(warnings);
    char line[256] = {};
    EXPECT_NE(std::fgets(line, sizeof line, warnings), nullptr);
    EXPECT_EQ(std::string(line).rfind("tarnserialport: warning: --allow-io: I/O ports 0x02E8-0x02EF may", 0),
              0u);
    std::fclose(warnings);
    kivu5::DiagDevice com4("COM4"), com2("COM2"), none("COM5"), empty("COM6");
    com4.setProperty("IoBaseAddresses", kivu5::Value::Uint32Array({0x2E8}));
    com2.setProperty("IoBaseAddresses", kivu5::Value::Uint32Array({0x2F8, 0x3E8}));
    empty.setProperty("IoBaseAddresses", kivu5::Value::Uint32Array({}));
    EXPECT_TRUE(tarnhost::NarrowIoGuard(guard, com4));
    EXPECT_TRUE(tarnhost::NarrowIoGuard(guard, com2));
    EXPECT_EQ(guard.GrantedWindow(), std::optional<uint16_t>(0x2F8)) << "the first base only";
    EXPECT_FALSE(tarnhost::NarrowIoGuard(guard, none));
    EXPECT_FALSE(tarnhost::NarrowIoGuard(guard, empty));
}

} // namespace
} // namespace tarntest

namespace kivu5 {
int HostStart() { // the framework's start() in this program: nothing is started
    return 0;
}
} // namespace kivu5
