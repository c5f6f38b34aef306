// One run of one test on one device, as the host keeps it for the console summary and the reports.
#pragma once

#include "kivu5/Framework.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnhost {

struct RunRecord {
    std::string test;
    int id = 0;
    std::string device;
    kivu5::RunOutcome outcome;

    // Milliseconds from start to end by the platform's tick count (virtual on the simulator); the
    // 32-bit tick counter may wrap during a run.
    uint32_t DurationMs() const { return static_cast<uint32_t>(outcome.endMs - outcome.startMs); }
    // Events raised as errors during the run.
    unsigned ErrorCount() const;
};

// The exit status of these runs: 0 when every run ended PASS or NOTSUPPORTED, 1 when any ended FAIL,
// 3 otherwise.
int ExitStatusFor(const std::vector<RunRecord>& runs);

} // namespace tarnhost
