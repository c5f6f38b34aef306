// What --list-tests and --list-devices print on standard output, one line per test or device.
#pragma once

#include "host/Devices.h"

#include <vector>

namespace tarnhost {

// Each registered test: name, ID, the device properties it requires, the parameters attached to it.
void ListTests();
// Each device: name, ComPortNumber, IoBaseAddresses, the OS device behind it.
void ListDevices(const std::vector<HostDevice>& devices);

} // namespace tarnhost
