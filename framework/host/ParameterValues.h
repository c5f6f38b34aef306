// The values of the module's parameters for this process: the defaults, then the settings file, then
// --set, each overriding what came before.
#pragma once

#include "host/CommandLine.h"
#include "host/SettingsLoader.h"
#include "kivu5/Framework.h"

#include <string>
#include <vector>

namespace tarnhost {

// Sets every value on the module's parameters, or none: an unknown --set parameter or a bad value is a
// CHostInputError before anything is set.
void ApplyParameterValues(const HostOptions& options, const HostSettings& settings);

// When a test that takes BaudRates will run and the list holds rates no port can be asked for (none of the
// twelve a driver's settable-rates mask knows, nor the skip marker 0xFFFFFFFF): one warning line naming
// them and the rates that can be asked for; "" otherwise. The test itself still reports and skips them.
std::string UnsettableRatesWarning(const std::vector<const kivu5::Test*>& tests);

} // namespace tarnhost
