// What --list-tests and --list-devices print on standard output, one line per test or device.
#pragma once

#include "host/Devices.h"

#include <vector>

namespace tarnhost {

// Each registered test: name, ID, the device properties it requires, the parameters attached to it.
void ListTests();
// Each device: name, ComPortNumber, IoBaseAddresses, the OS device behind it; then the ports left out, one
// line per reason. json: the same as one JSON object (documented in docs/usage.md).
void ListDevices(const PlatformPorts& ports, bool json);

} // namespace tarnhost
