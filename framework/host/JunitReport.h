// The JUnit XML report (--junit FILE): one testsuite per device, with when it ran, on which host and
// under which tags, one testcase per run; failures and errors carry the run's findings and skipped runs
// the reason, so CI and factory test systems can show and file the runs.
#pragma once

#include "host/RunRecord.h"

#include <string>

namespace tarnhost {

std::string BuildJunitReport(const Session& session);

} // namespace tarnhost
