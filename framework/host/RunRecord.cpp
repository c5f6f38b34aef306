#include "host/RunRecord.h"

#include "host/HostError.h"

namespace tarnhost {

unsigned RunRecord::ErrorCount() const {
    unsigned count = 0;
    for (const kivu5::TimelineEntry& entry : outcome.timeline) {
        count += entry.kind == kivu5::TimelineEntry::EventRaised && entry.severity == "error" ? 1u : 0u;
    }
    return count;
}

int ExitStatusFor(const std::vector<RunRecord>& runs) {
    using kivu5::TestResult;
    bool failed = false;
    bool other = false;
    for (const RunRecord& run : runs) {
        const TestResult& result = run.outcome.result;
        failed = failed || result == TestResult::FAIL();
        other = other || (result != TestResult::PASS() && result != TestResult::NOTSUPPORTED() &&
                          result != TestResult::FAIL());
    }
    return failed ? EXIT_SOME_FAILED : other ? EXIT_NOT_PASSED : EXIT_ALL_PASSED;
}

} // namespace tarnhost
