// The JUnit XML report (--junit FILE): one testsuite per device, one testcase per run, failures and
// errors carrying the run's error and warning events, so CI systems can show the runs.
#pragma once

#include "host/RunRecord.h"

#include <string>
#include <vector>

namespace tarnhost {

std::string BuildJunitReport(const std::vector<RunRecord>& runs);

} // namespace tarnhost
