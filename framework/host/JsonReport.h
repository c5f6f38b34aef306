// The JSON report (--report FILE): what ran where and when, a verdict per port, and each run with its
// timeline (docs/report.schema.json).
#pragma once

#include "host/RunRecord.h"

#include <nlohmann/json.hpp>

#include <string>

namespace tarnhost {

// Keys in a fixed order, the run's identity before its timeline, for people reading the file.
nlohmann::ordered_json BuildJsonReport(const std::string& version, int exitCode, const Session& session);
// The report as text: indented, invalid UTF-8 replaced rather than refused.
std::string JsonReportText(const nlohmann::ordered_json& report);

} // namespace tarnhost
