// The JUnit XML report (--junit FILE): one testsuite per device, one testcase per run, failures and
// errors carrying the run's error and warning events, so CI systems can show the runs.
#pragma once

#include "host/RunRecord.h"

#include <string>
#include <vector>

namespace tarnhost {

std::string BuildJunitReport(const std::vector<RunRecord>& runs);
// Text made safe for XML character data and attribute values: markup characters escaped, control
// characters XML 1.0 forbids and bytes that are not UTF-8 replaced by '?'.
std::string XmlEscape(const std::string& text);

} // namespace tarnhost
