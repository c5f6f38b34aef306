// Linux device enumeration, with the sysfs root as a parameter so tests can hand it a fake tree.
// Linux only (the build compiles DevicesLinux.cpp and ComPortMapLinux.cpp on Linux alone).
#pragma once

#include "host/Devices.h"

#include <functional>
#include <string>

namespace tarnhost {

// COM numbers: ttyS<n> is COM<n+1>, the usual PC numbering (ttyS0 and COM1 are both the UART at 0x3F8);
// USB and ACM adapters, which have no I/O base, follow from COM33 on, after the 32 numbers ttyS0 to
// ttyS31 can take.
const unsigned FIRST_ADAPTER_COM = 33;

// The ports under sysClassTty (normally /sys/class/tty). Reads attribute files only, never a /dev node.
// The ttyS nodes that are no device (no UART behind them, or attributes this user cannot read) go to
// leftOut when it is given.
std::vector<HostDevice> EnumerateLinuxDevices(const std::string& sysClassTty,
                                              std::vector<LeftOutPort>* leftOut = nullptr);

// The ports under sysClassTty as the host sees them: a port for which isConsole(its /dev node) is true is
// no device, but its window is reported, flagged console, so the I/O-port guard refuses it for ever; it is
// left out, as are the ttyS nodes without a UART.
PlatformPorts LinuxPlatformPorts(const std::string& sysClassTty,
                                 const std::function<bool(const std::string&)>& isConsole);

// Tells the Linux backend that \\.\COM<n> opens exactly these devices' nodes and nothing else, so a port
// opens only when it was found (ComPortMapLinux.cpp).
void MapComPorts(const std::vector<HostDevice>& devices);
// Whether a device node is where the kernel writes its console (such a port is never tested).
bool IsConsoleDevice(const std::string& devicePath);

} // namespace tarnhost
