// The tests and devices the user chose (--test, --device), in the order given; all of them when none was
// named. A name that does not exist ends the program with exit status 4 before anything runs.
#pragma once

#include "host/Devices.h"
#include "kivu5/Framework.h"

#include <string>
#include <vector>

namespace tarnhost {

// The module's tests of these names, or all of them in the order they were registered.
std::vector<const kivu5::Test*> SelectTests(const std::vector<std::string>& names);
// The found devices of these names, or all of them. No device found at all is also exit status 4.
std::vector<HostDevice> SelectDevices(const std::vector<HostDevice>& found,
                                      const std::vector<std::string>& names);

} // namespace tarnhost
