// The devices the host can test: found on this machine (DevicesLinux.cpp or DevicesWindows.cpp, chosen by
// the build) or those of a simulator scenario. Each is a framework device named COMn with the properties
// ComPortNumber and IoBaseAddresses that the tests require, plus the OS device behind it for
// --list-devices.
#pragma once

#include "kivu5/kivu5.h"
#include "os/IoWindow.h"
#include "sim/Scenario.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnhost {

struct HostDevice {
    HostDevice(kivu5::DiagDevice diagDevice, std::string os)
        : device(std::move(diagDevice)), osDevice(std::move(os)) {}
    kivu5::DiagDevice device;
    std::string osDevice; // "/dev/ttyS1", "\\.\COM3 (Communications Port)", "simulated (UART 16550A)"
    // What the OS's driver writes to the UART's FIFO control register, which cannot be read back, so that
    // the host can put it back after the register tests; unset when it is not known. fifoSource says
    // whose setting it is, or why it is not known.
    std::optional<uint8_t> fifoControl;
    std::string fifoSource;
};

// The serial ports of this machine, in COM number order, with the UART windows the platform reports, for
// the I/O-port guard. Never opens a port: it reads what the OS reports. Each window is a port's I/O base
// with the device it belongs to, the kernel console's included (flagged; that port is never a device).
// Linux: /sys/class/tty/ttyS*/port of the ports with a UART reached by port I/O; Windows (SetupAPI): the
// first I/O range of a port's allocated resources (a range only in the boot configuration is no window).
// A serial port of the machine that is no device, with why: "the kernel console", "no UART found", "no
// permission to read" (what the platform says about it).
struct LeftOutPort {
    std::string osDevice;
    std::string reason;
};
struct PlatformPorts {
    std::vector<HostDevice> devices;
    std::vector<tarnos::UartWindow> windows;
    std::vector<LeftOutPort> leftOut;
};
PlatformPorts EnumeratePlatformPorts();

// The ports of a scenario, in its order.
std::vector<HostDevice> SimulatedDevices(const tarnsim::Scenario& scenario);

} // namespace tarnhost
