// The HTML page (--html FILE): one self-contained file per session, to look at and to attach to a ticket.
// A header with the host, the times, the program and the tags; then a card per port with the result of
// each test, the pictures of what the tests found (the loopback plug's bridges, the rates, the control
// signals) and every finding in the console's words. Inline CSS and SVG only: no script, nothing fetched.
#pragma once

#include "host/HtmlSource.h"

#include <string>

namespace tarnhost {

std::string HtmlPageText(const HtmlSource& source);

// The page of a JSON report's text, for the run that writes the report and for a report stored earlier
// (--from-report) alike; input names the report in error lines.
inline std::string HtmlPageOfReport(const std::string& reportText, const std::string& input) {
    return HtmlPageText(ReadHtmlSource(reportText, input));
}

} // namespace tarnhost
