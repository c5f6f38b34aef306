// The JSON report (--report FILE): module, version, exit status, and each run with its timeline.
#pragma once

#include "host/RunRecord.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tarnhost {

// Keys in a fixed order, the run's identity before its timeline, for people reading the file.
nlohmann::ordered_json BuildJsonReport(const std::string& version, int exitCode,
                                       const std::vector<RunRecord>& runs);
// The report as text: indented, invalid UTF-8 replaced rather than refused.
std::string JsonReportText(const nlohmann::ordered_json& report);

} // namespace tarnhost
