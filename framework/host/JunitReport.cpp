#include "host/JunitReport.h"

#include "host/Findings.h"
#include "host/HtmlText.h"

#include <algorithm>
#include <cstdio>

namespace tarnhost {
namespace {

// Attribute values: also line ends and tabs as references, which XML would otherwise turn into blanks.
std::string XmlAttribute(const std::string& text) {
    std::string out;
    for (char c : XmlEscape(text)) {
        out += c == '\n' ? std::string("&#10;") : c == '\t' ? std::string("&#9;") : std::string(1, c);
    }
    return out;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

enum class Outcome { Passed, Failure, Skipped, Error };

// FAIL is a failed check; a port the test does not apply to, or a user's stop, is skipped; every other
// result (CANNOTRUN, INTERNALERROR, NODEVICE, EXITEDABNORMALLY, ...) means the test could not do its job.
Outcome OutcomeOf(const kivu5::TestResult& result) {
    using kivu5::TestResult;
    if (result == TestResult::PASS()) {
        return Outcome::Passed;
    }
    if (result == TestResult::FAIL()) {
        return Outcome::Failure;
    }
    if (result == TestResult::NOTSUPPORTED() || result == TestResult::USERABORTED()) {
        return Outcome::Skipped;
    }
    return Outcome::Error;
}

// The run's findings but the informative ones, one a line, after the exception that ended it, if any.
std::string Findings(const RunRecord& run) {
    std::string text;
    if (run.outcome.exception) {
        text += "exception: " + run.outcome.exceptionMessage + "\n";
    }
    for (const Finding& finding : RunFindings(run)) {
        if (finding.severity != "informative") {
            text += FindingLine(finding) + "\n";
        }
    }
    return text;
}

std::string Testcase(const RunRecord& run, bool soak) {
    std::string result = run.outcome.result.name();
    std::string reason = NotTestedReason(run);
    std::string message = reason.empty() ? result : result + ": " + reason;
    // In a soak a test runs once a pass: the pass tells the cases apart.
    std::string name = soak ? run.test + " (pass " + std::to_string(run.pass) + ")" : run.test;
    std::string xml = "    <testcase name=\"" + XmlAttribute(name) + "\" classname=\"tarnserialport." +
                      XmlAttribute(run.device) + "\" time=\"" + Seconds(run.realSeconds) + "\"";
    switch (OutcomeOf(run.outcome.result)) {
    case Outcome::Passed:
        return xml + "/>\n";
    case Outcome::Skipped:
        return xml + ">\n      <skipped message=\"" + XmlAttribute(message) + "\"/>\n    </testcase>\n";
    case Outcome::Failure:
        return xml + ">\n      <failure type=\"FAIL\" message=\"" + std::to_string(run.ErrorCount()) +
               " error event(s)\">" + XmlEscape(Findings(run)) + "</failure>\n    </testcase>\n";
    case Outcome::Error:
        break;
    }
    return xml + ">\n      <error type=\"" + result + "\" message=\"" + XmlAttribute(message) + "\">" +
           XmlEscape(Findings(run)) + "</error>\n    </testcase>\n";
}

// The reports' own property, then the --tag properties.
std::string Properties(const Session& session) {
    std::string xml = "    <properties>\n      <property name=\"simulated\" value=\"" +
                      std::string(session.simulated ? "true" : "false") + "\"/>\n";
    for (const auto& tag : session.tags) {
        xml += "      <property name=\"" + XmlAttribute(tag.first) + "\" value=\"" +
               XmlAttribute(tag.second) + "\"/>\n";
    }
    return xml + "    </properties>\n";
}

struct Counts {
    unsigned tests = 0, failures = 0, errors = 0, skipped = 0;
    double seconds = 0.0;
    void Add(const RunRecord& run) {
        Outcome outcome = OutcomeOf(run.outcome.result);
        ++tests;
        failures += outcome == Outcome::Failure ? 1u : 0u;
        errors += outcome == Outcome::Error ? 1u : 0u;
        skipped += outcome == Outcome::Skipped ? 1u : 0u;
        seconds += run.realSeconds;
    }
    std::string Attributes() const {
        return "tests=\"" + std::to_string(tests) + "\" failures=\"" + std::to_string(failures) +
               "\" errors=\"" + std::to_string(errors) + "\" skipped=\"" + std::to_string(skipped) +
               "\" time=\"" + Seconds(seconds) + "\"";
    }
};

} // namespace

std::string BuildJunitReport(const Session& session) {
    std::vector<std::string> devices; // in the order first run
    for (const RunRecord& run : session.runs) {
        if (std::find(devices.begin(), devices.end(), run.device) == devices.end()) {
            devices.push_back(run.device);
        }
    }
    Counts all;
    std::string suites;
    for (const std::string& device : devices) {
        Counts counts;
        std::string cases;
        std::string timestamp;
        for (const RunRecord& run : session.runs) {
            if (run.device == device) {
                counts.Add(run);
                all.Add(run);
                cases += Testcase(run, session.soak);
                timestamp = timestamp.empty() ? run.startedAt : timestamp;
            }
        }
        // JUnit's timestamp has no zone: UTC, as every time of the reports.
        timestamp = timestamp.empty() ? session.startedAt : timestamp;
        timestamp = timestamp.substr(0, timestamp.find('Z'));
        suites += "  <testsuite name=\"" + XmlAttribute(device) + "\" " + counts.Attributes() +
                  " timestamp=\"" + timestamp + "\" hostname=\"" + XmlAttribute(session.host) + "\">\n" +
                  Properties(session) + cases + "  </testsuite>\n";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"tarnserialport\" " +
           all.Attributes() + ">\n" + suites + "</testsuites>\n";
}

} // namespace tarnhost
