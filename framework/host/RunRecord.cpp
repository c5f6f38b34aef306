#include "host/RunRecord.h"

#include "host/HostError.h"

#include <algorithm>

namespace tarnhost {
namespace {

using kivu5::TestResult;

bool Passes(const TestResult& result, bool strict) {
    return result == TestResult::PASS() || (!strict && result == TestResult::NOTSUPPORTED());
}

} // namespace

unsigned RunRecord::ErrorCount() const {
    unsigned count = 0;
    for (const kivu5::TimelineEntry& entry : outcome.timeline) {
        count += entry.kind == kivu5::TimelineEntry::EventRaised && entry.severity == "error" &&
                         entry.name != "InvalidBaudRateConfig"
                     ? 1u
                     : 0u;
    }
    return count;
}

int ExitStatusFor(const std::vector<RunRecord>& runs, bool strict) {
    bool failed = false;
    bool other = false;
    for (const RunRecord& run : runs) {
        const TestResult& result = run.outcome.result;
        failed = failed || result == TestResult::FAIL();
        other = other || (!Passes(result, strict) && result != TestResult::FAIL());
    }
    return failed ? EXIT_SOME_FAILED : other ? EXIT_NOT_PASSED : EXIT_ALL_PASSED;
}

std::vector<PortTally> TallyPorts(const std::vector<RunRecord>& runs, bool strict) {
    std::vector<PortTally> ports;   // in the order first run
    std::vector<unsigned> unpassed; // per port: runs that keep it from a pass, failures aside
    for (const RunRecord& run : runs) {
        auto port = std::find_if(ports.begin(), ports.end(),
                                 [&run](const PortTally& each) { return each.device == run.device; });
        if (port == ports.end()) {
            ports.push_back(PortTally{run.device, "", 0, 0, 0, 0, 0.0});
            unpassed.push_back(0);
            port = ports.end() - 1;
        }
        const TestResult& result = run.outcome.result;
        bool passed = result == TestResult::PASS();
        bool failed = result == TestResult::FAIL();
        port->passed += passed ? 1u : 0u;
        port->failed += failed ? 1u : 0u;
        port->notTested += !passed && !failed ? 1u : 0u;
        unpassed[static_cast<size_t>(port - ports.begin())] += !Passes(result, strict) && !failed ? 1u : 0u;
        port->deviceMs += run.DurationMs();
        port->realSeconds += run.realSeconds;
    }
    for (size_t i = 0; i < ports.size(); ++i) {
        ports[i].verdict = ports[i].failed > 0                       ? "FAIL"
                           : ports[i].passed > 0 && unpassed[i] == 0 ? "PASS"
                                                                     : "NOT TESTED";
    }
    return ports;
}

} // namespace tarnhost
