// The values of the module's parameters for this process: the defaults, then the settings file, then
// --set, each overriding what came before.
#pragma once

#include "host/CommandLine.h"
#include "host/SettingsLoader.h"

namespace tarnhost {

// Sets every value on the module's parameters, or none: an unknown --set parameter or a bad value is a
// CHostInputError before anything is set.
void ApplyParameterValues(const HostOptions& options, const HostSettings& settings);

} // namespace tarnhost
