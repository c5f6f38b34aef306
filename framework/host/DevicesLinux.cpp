#include "host/DevicesLinux.h"

#include "host/DriverFifo.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

namespace tarnhost {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, "" when it cannot be read; readable tells whether it could.
std::string Attribute(const fs::path& dir, const char* name, bool* readable = nullptr) {
    std::ifstream file(dir / name);
    if (readable != nullptr) {
        *readable = file.is_open();
    }
    std::string line;
    std::getline(file, line);
    return line;
}

struct Found {
    unsigned com;
    HostDevice host;
};

} // namespace

std::vector<HostDevice> EnumerateLinuxDevices(const std::string& sysClassTty,
                                              std::vector<LeftOutPort>* leftOut) {
    std::vector<Found> uarts;
    std::vector<std::pair<std::string, std::string>> adapters; // sort key, name
    std::error_code error;
    const std::regex uartName("ttyS([0-9]+)");
    const std::regex adapterName("tty(USB|ACM)([0-9]+)");
    for (const fs::directory_entry& entry : fs::directory_iterator(sysClassTty, error)) {
        std::string name = entry.path().filename().string();
        std::smatch match;
        if (std::regex_match(name, match, uartName)) {
            // type 0 is PORT_UNKNOWN: the kernel keeps ttyS nodes for UARTs that are not there.
            bool readable = false;
            std::string type = Attribute(entry.path(), "type", &readable);
            if (type.empty() || std::strtoul(type.c_str(), nullptr, 10) == 0) {
                bool denied = !readable && fs::exists(entry.path() / "type", error);
                if (leftOut != nullptr) {
                    leftOut->push_back(
                        LeftOutPort{"/dev/" + name, denied ? "no permission to read" : "no UART found"});
                }
                continue;
            }
            unsigned com = static_cast<unsigned>(std::stoul(match[1].str())) + 1;
            kivu5::DiagDevice device("COM" + std::to_string(com));
            device.setProperty("ComPortNumber", kivu5::Value::Uint32(com));
            // io_type 0 is UPIO_PORT: only then is "port" an I/O base the register tests can use.
            std::string ioType = Attribute(entry.path(), "io_type");
            unsigned long base = std::strtoul(Attribute(entry.path(), "port").c_str(), nullptr, 16);
            if ((ioType.empty() || std::strtoul(ioType.c_str(), nullptr, 10) == 0) && base != 0 &&
                base <= 0xFFFF) {
                device.setProperty("IoBaseAddresses",
                                   kivu5::Value::Uint32Array({static_cast<uint32_t>(base)}));
            }
            HostDevice host{device, "/dev/" + name};
            SetLinuxDriverFifo(std::strtoul(type.c_str(), nullptr, 10), host);
            uarts.push_back(Found{com, host});
        } else if (std::regex_match(name, match, adapterName) && fs::exists(entry.path() / "device")) {
            // Sort ACM before USB, each by number, so the numbering is stable from run to run.
            char key[32];
            std::snprintf(key, sizeof key, "%s%010lu", match[1].str().c_str(), std::stoul(match[2].str()));
            adapters.emplace_back(key, name);
        }
    }
    std::sort(uarts.begin(), uarts.end(), [](const Found& a, const Found& b) { return a.com < b.com; });
    std::sort(adapters.begin(), adapters.end());
    std::vector<HostDevice> devices;
    for (Found& found : uarts) {
        devices.push_back(std::move(found.host));
    }
    unsigned com = FIRST_ADAPTER_COM;
    for (const auto& adapter : adapters) {
        kivu5::DiagDevice device("COM" + std::to_string(com));
        device.setProperty("ComPortNumber", kivu5::Value::Uint32(com));
        // No IoBaseAddresses: the register-level tests then answer NOTSUPPORTED without touching a register.
        devices.push_back(HostDevice{device, "/dev/" + adapter.second});
        ++com;
    }
    return devices;
}

PlatformPorts LinuxPlatformPorts(const std::string& sysClassTty,
                                 const std::function<bool(const std::string&)>& isConsole) {
    PlatformPorts ports;
    for (HostDevice& host : EnumerateLinuxDevices(sysClassTty, &ports.leftOut)) {
        bool console = isConsole(host.osDevice);
        if (const kivu5::DeviceProperty* io = host.device.property("IoBaseAddresses")) {
            kivu5::Value bases = io->value(); // the one base EnumerateLinuxDevices gives: sysfs "port"
            ports.windows.push_back(
                tarnos::UartWindow{bases.getUint32InArray(0), host.device.name(), console});
        }
        // A console on a serial port (ttyS0 on many servers) would be wrecked by a loopback test.
        if (console) {
            ports.leftOut.push_back(LeftOutPort{host.osDevice, "the kernel console"});
        } else {
            ports.devices.push_back(std::move(host));
        }
    }
    // In node order, ttyS2 before ttyS10.
    std::sort(ports.leftOut.begin(), ports.leftOut.end(), [](const LeftOutPort& a, const LeftOutPort& b) {
        return std::make_pair(a.osDevice.size(), a.osDevice) < std::make_pair(b.osDevice.size(), b.osDevice);
    });
    return ports;
}

PlatformPorts EnumeratePlatformPorts() {
    PlatformPorts ports = LinuxPlatformPorts("/sys/class/tty", IsConsoleDevice);
    MapComPorts(ports.devices);
    return ports;
}

} // namespace tarnhost
