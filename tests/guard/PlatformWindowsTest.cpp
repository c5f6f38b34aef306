// The windows the host gives the guard come from the platform's own enumeration: /sys/class/tty/ttyS*/port
// of the ports with a UART reached by port I/O (a fake sysfs tree here, never the machine's), the
// console's flagged and never a device.
#include "GuardSupport.h"

#include "host/DevicesLinux.h"
#include "host/IoGuardSetup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace guardtests {
namespace {

namespace fs = std::filesystem;

void Port(const fs::path& root, const std::string& name,
          const std::map<std::string, std::string>& attributes) {
    fs::create_directories(root / name);
    for (const auto& attribute : attributes) {
        std::ofstream(root / name / attribute.first) << attribute.second << "\n";
    }
}

// ttyS0 (console) at 0x3F8, ttyS1 at 0x2F8, ttyS3 at 0x2E8, ttyS2 without UART at 0x3E8, ttyS4
// memory-mapped, one USB adapter.
fs::path FakeSysfs() {
    // One tree per process: CTest runs the tests of this program in parallel processes.
    fs::path root = fs::path(::testing::TempDir()) / ("tarn-guard-sysfs-" + std::to_string(getpid()));
    fs::remove_all(root);
    Port(root, "ttyS0", {{"type", "4"}, {"port", "0x3F8"}, {"io_type", "0"}});
    Port(root, "ttyS1", {{"type", "4"}, {"port", "0x2F8"}, {"io_type", "0"}});
    Port(root, "ttyS2", {{"type", "0"}, {"port", "0x3E8"}, {"io_type", "0"}});
    Port(root, "ttyS3", {{"type", "4"}, {"port", "0x2E8"}, {"io_type", "0"}});
    Port(root, "ttyS4", {{"type", "4"}, {"port", "0x0"}, {"io_type", "2"}});
    Port(root, "ttyUSB0", {});
    fs::create_directories(root / "ttyUSB0" / "device");
    return root;
}

bool ConsoleIsTtyS0(const std::string& device) {
    return device == "/dev/ttyS0";
}

TEST(PlatformWindows, EveryUartReachedByPortIoIsAWindowAndTheConsolesIsFlagged) {
    tarnhost::PlatformPorts ports = tarnhost::LinuxPlatformPorts(FakeSysfs().string(), ConsoleIsTtyS0);
    ASSERT_EQ(ports.windows.size(), 3u);
    EXPECT_EQ(ports.windows[0].base, 0x3F8u);
    EXPECT_EQ(ports.windows[0].device, "COM1");
    EXPECT_TRUE(ports.windows[0].console);
    EXPECT_EQ(ports.windows[1].base, 0x2F8u);
    EXPECT_EQ(ports.windows[1].device, "COM2");
    EXPECT_FALSE(ports.windows[1].console);
    EXPECT_EQ(ports.windows[2].base, 0x2E8u);
    EXPECT_EQ(ports.windows[2].device, "COM4");
    EXPECT_FALSE(ports.windows[2].console);
    // The console's port is no device; the others are, in order.
    std::vector<std::string> names;
    for (const tarnhost::HostDevice& device : ports.devices) {
        names.push_back(device.device.name());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"COM2", "COM4", "COM5", "COM33"}));
    fs::remove_all(FakeSysfs());
}

TEST(PlatformWindows, EachDeviceGetsItsOwnWindowAndOnlyThatOne) {
    tarnhost::PlatformPorts ports = tarnhost::LinuxPlatformPorts(FakeSysfs().string(), ConsoleIsTtyS0);
    CRecordingPortIo backend;
    tarnos::CIoPortGuard guard(backend);
    std::FILE* warnings = std::tmpfile();
    tarnhost::ConfigureIoGuard(guard, ports.windows, {}, warnings);
    std::fclose(warnings);
    std::vector<std::string> granted;
    for (const tarnhost::HostDevice& device : ports.devices) {
        bool window = tarnhost::NarrowIoGuard(guard, device.device);
        granted.push_back(device.device.name() +
                          (window ? " " + tarnos::PortText(*guard.GrantedWindow()) : " none"));
        // Nothing outside its own window passes: the other reported ports' and the console's included.
        for (uint16_t other : std::vector<uint16_t>{0x3F8, 0x2F8, 0x2E8, 0x3E8}) {
            EXPECT_EQ(guard.Allows(other), window && other == *guard.GrantedWindow()) << device.device.name();
        }
    }
    EXPECT_EQ(granted, (std::vector<std::string>{"COM2 0x02F8", "COM4 0x02E8", "COM5 none", "COM33 none"}));
    fs::remove_all(FakeSysfs());
}

TEST(PlatformWindows, AMissingSysfsReportsNoWindow) {
    tarnhost::PlatformPorts ports =
        tarnhost::LinuxPlatformPorts("/nonexistent/sys/class/tty", ConsoleIsTtyS0);
    EXPECT_TRUE(ports.windows.empty());
    EXPECT_TRUE(ports.devices.empty());
}

} // namespace
} // namespace guardtests
