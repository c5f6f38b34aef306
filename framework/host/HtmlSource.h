// What the HTML page is drawn from: a JSON report (--report), read back and checked field by field. The
// page of a run is drawn from the report text that run writes, so a page made later from the stored report
// (--from-report) is the same page.
#pragma once

#include "host/RunRecord.h"

#include <string>
#include <vector>

namespace tarnhost {

struct HtmlSource {
    std::string program; // "tarnserialport 5.0.000000001"
    int exitCode = 0;
    Session session;                 // host, os, times, tags, simulated, every run with its timeline
    std::vector<PortTally> ports;    // the report's verdicts, decided with or without --strict as the run was
    std::vector<uint32_t> baudRates; // the runs' BaudRates list; empty in a report that does not hold it
};

// reportText: a JSON report as --report writes it; input names it in error lines. A report that does not
// fit the report's schema is a CHostInputError: "<input>: runs[0].result: expected one of ...".
HtmlSource ReadHtmlSource(const std::string& reportText, const std::string& input);

} // namespace tarnhost
