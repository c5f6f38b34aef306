// The framework devices of a scenario: each port becomes a DiagDevice named COMn (or its "name") with the
// properties ComPortNumber (uint32) and IoBaseAddresses (uint32 array) as the scenario gives them.
#pragma once

#include "kivu5/kivu5.h"
#include "sim/Scenario.h"

#include <vector>

namespace tarnsim {

kivu5::DiagDevice MakeDevice(const PortConfig& port);
std::vector<kivu5::DiagDevice> MakeDevices(const Scenario& scenario);

} // namespace tarnsim
