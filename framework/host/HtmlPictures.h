// The pictures of a port's card, drawn from its runs' timelines (HtmlConnector.cpp, HtmlRates.cpp,
// HtmlSignals.cpp): each a <figure> of inline SVG or HTML whose data- attributes name what it shows, so that
// a script or a test can read the page as well as people can.
#pragma once

#include "host/RunRecord.h"
#include "host/TestTable.h"

#include <string>
#include <vector>

namespace tarnhost {

// The runs of one test on one port, in the order they ran (more than one in a soak).
using TestRuns = std::vector<const RunRecord*>;

// The run a picture shows: the first that failed, else the last; null when there is none.
inline const RunRecord* ShownRun(const TestRuns& runs) {
    for (const RunRecord* run : runs) {
        if (run->outcome.result == kivu5::TestResult::FAIL()) {
            return run;
        }
    }
    return runs.empty() ? nullptr : runs.back();
}

// The DB-9 connector with the loopback plug's three bridges, coloured by what the external tests found.
std::string ConnectorFigure(const TestRuns& registerRuns, const TestRuns& loopbackRuns);
// Each figure below is "" when its run drew nothing: it never reached its rates or combinations.
// ExternalLoopbackTest's rates: one cell each, passed, failed, skipped (not settable) or not reached.
std::string LoopbackRatesFigure(const RunRecord& run);
// InternalSendAndReceiveTest's nine rates; a rate the loopback test found not settable on the port was
// skipped by this test too.
std::string SendReceiveRatesFigure(const RunRecord& run, const RunRecord* loopback);
// InternalControlSignalsTest's 16 combinations of DTR, RTS, OUT1, OUT2 and the inputs each one showed.
std::string ControlSignalsFigure(const RunRecord& run);

} // namespace tarnhost
