// Linux device enumeration on a fake sysfs tree (never the machine's own ports): ttyS<n> with a UART is
// COM<n+1> with its I/O base, ports without a UART are left out, adapters follow from COM33.
#include "host/DevicesLinux.h"
#include "host/Devices.h"

#include "os/backends/posix/ComPortMap.h"

#include "Spawn.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace tarnhost {
namespace {

namespace fs = std::filesystem;

void Port(const fs::path& root, const std::string& name,
          const std::map<std::string, std::string>& attributes) {
    fs::create_directories(root / name);
    for (const auto& attribute : attributes) {
        tarnhosttest::WriteFile((root / name / attribute.first).string(), attribute.second + "\n");
    }
}

fs::path FakeSysfs() {
    fs::path root = tarnhosttest::TempPath("sysfs");
    fs::remove_all(root);
    Port(root, "ttyS0", {{"type", "4"}, {"port", "0x3F8"}, {"io_type", "0"}});
    Port(root, "ttyS1", {{"type", "0"}, {"port", "0x2F8"}, {"io_type", "0"}}); // no UART
    Port(root, "ttyS10", {{"type", "4"}, {"port", "0x0"}, {"io_type", "2"}});  // memory-mapped
    Port(root, "ttyUSB1", {});
    fs::create_directories(root / "ttyUSB1" / "device");
    Port(root, "ttyACM0", {});
    fs::create_directories(root / "ttyACM0" / "device");
    Port(root, "ttyUSB9", {}); // no device behind it
    Port(root, "tty0", {});
    return root;
}

TEST(DevicesLinux, UartsAndAdaptersFromSysfs) {
    std::vector<HostDevice> devices = EnumerateLinuxDevices(FakeSysfs().string());
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(DeviceListLine(devices[0]), "COM1  ComPortNumber=1  IoBaseAddresses=[0x3F8]  /dev/ttyS0");
    EXPECT_EQ(DeviceListLine(devices[1]), "COM11  ComPortNumber=11  IoBaseAddresses=(none)  /dev/ttyS10");
    EXPECT_EQ(DeviceListLine(devices[2]), "COM33  ComPortNumber=33  IoBaseAddresses=(none)  /dev/ttyACM0");
    EXPECT_EQ(DeviceListLine(devices[3]), "COM34  ComPortNumber=34  IoBaseAddresses=(none)  /dev/ttyUSB1");
}

TEST(DevicesLinux, OnlyTheDevicesFoundCanBeOpened) {
    bool defaultMapping = tarnos::posix::DefaultComMapping();
    MapComPorts(EnumerateLinuxDevices(FakeSysfs().string()));
    std::string path;
    EXPECT_TRUE(tarnos::posix::ComPortPath(34, &path));
    EXPECT_EQ(path, "/dev/ttyUSB1");
    EXPECT_TRUE(tarnos::posix::ComPortPath(1, &path));
    EXPECT_EQ(path, "/dev/ttyS0");
    EXPECT_FALSE(tarnos::posix::ComPortPath(2, &path)) << "no fallback to /dev/ttyS1";
    tarnos::posix::ClearComPortMap();
    tarnos::posix::SetDefaultComMapping(defaultMapping);
}

TEST(DevicesLinux, ANonexistentNodeIsNoConsole) {
    EXPECT_FALSE(IsConsoleDevice("/nonexistent/ttyS0"));
}

TEST(DevicesLinux, AMissingSysfsGivesNoDevices) {
    EXPECT_TRUE(EnumerateLinuxDevices("/nonexistent/sys/class/tty").empty());
}

TEST(Devices, SimulatedDevicesCarryTheScenariosProperties) {
    tarnsim::Scenario scenario;
    tarnsim::PortConfig com1;
    com1.com = 1;
    com1.io = std::vector<uint32_t>{0x3F8, 0x2F8};
    tarnsim::PortConfig bare;
    bare.name = "USB0";
    bare.uart.model = tarnsim::UartConfig::Model::Absent;
    scenario.ports = {com1, bare};
    std::vector<HostDevice> devices = SimulatedDevices(scenario);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(DeviceListLine(devices[0]),
              "COM1  ComPortNumber=1  IoBaseAddresses=[0x3F8,0x2F8]  simulated (UART 16550A)");
    EXPECT_EQ(DeviceListLine(devices[1]),
              "USB0  ComPortNumber=(none)  IoBaseAddresses=(none)  simulated (UART absent)");
}

} // namespace
} // namespace tarnhost
