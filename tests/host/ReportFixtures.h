// Runs made by hand, with every kind of timeline entry, for the report tests.
#pragma once

#include "host/RunRecord.h"

namespace tarnhosttest {

// ExternalLoopbackTest on COM1 that FAILs: progress, percent, prompt (answer 150), an error event with
// text, uint and int variables, a warning, a log line and two trace lines; 1500 ms long.
tarnhost::RunRecord FailingLoopbackRun();
// A run that PASSes with nothing said, on the given device.
tarnhost::RunRecord PassingRun(const std::string& test, const std::string& device);
// A run whose test function let "TARN Driver not installed!" out.
tarnhost::RunRecord ExceptionRun();
tarnhost::RunRecord RunWithResult(const kivu5::TestResult& result);

} // namespace tarnhosttest
