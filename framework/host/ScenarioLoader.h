// Scenario files (--sim FILE) into the simulator's model, strictly: an unknown key, a wrong type or a
// value out of range is bad input (exit 2) naming the key's JSON path.
#pragma once

#include "sim/Scenario.h"

#include <string>

namespace tarnhost {

// input names the file in error messages.
tarnsim::Scenario ParseScenario(const std::string& jsonText, const std::string& input);
tarnsim::Scenario LoadScenarioFile(const std::string& path);

} // namespace tarnhost
