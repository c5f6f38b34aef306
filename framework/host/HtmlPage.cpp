#include "host/HtmlPage.h"

#include "host/Clock.h"
#include "host/CountedLines.h"
#include "host/Findings.h"
#include "host/HtmlPictures.h"
#include "host/HtmlText.h"
#include "host/Summary.h"

#include <algorithm>
#include <cstdio>

namespace tarnhost {
namespace {

using kivu5::TestResult;

// Colours carry the verdicts, and words beside them say the same for those who cannot tell red from green.
const char* const STYLE = R"(
:root{--pass:#2e7d32;--fail:#c62828;--warn:#e65100;--grey:#757575;--line:#cfd8dc}
body{font:15px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,sans-serif;color:#212121;margin:0;background:#f5f7f8}
header,main{max-width:1100px;margin:0 auto;padding:16px 24px}
header{background:#fff;border-bottom:1px solid var(--line);max-width:none}
h1{font-size:22px;margin:4px 0 10px}h2{font-size:20px;margin:0 0 4px}h3{font-size:16px;margin:0 0 6px}
dl.session{display:grid;grid-template-columns:max-content 1fr max-content 1fr;gap:2px 16px;margin:0}
dt{color:var(--grey)}dd{margin:0}
nav a{display:inline-block;margin:8px 8px 0 0;padding:2px 10px;border-radius:12px;color:#fff;text-decoration:none}
.PASS{background:var(--pass)}.FAIL{background:var(--fail)}.other{background:var(--warn)}
.verdict,.result{display:inline-block;padding:1px 8px;border-radius:4px;color:#fff;font-weight:600}
section.port{background:#fff;border:1px solid var(--line);border-radius:8px;margin:16px 0;padding:16px 20px}
table{border-collapse:collapse}td,th{padding:3px 10px;border-bottom:1px solid var(--line);text-align:left}
td.num{text-align:right}small{color:var(--grey)}
.row{display:flex;flex-wrap:wrap;gap:12px 40px;align-items:flex-start;margin:12px 0}
.row>.findings{flex:1 1 420px}
figure{margin:0 0 12px;max-width:100%}figure.connector,figure.signals{max-width:380px}figcaption{font-size:13px;color:#455a64;max-width:560px}
text.pin{font:bold 11px sans-serif;text-anchor:middle}text.signal{font:11px sans-serif;text-anchor:middle;fill:#37474f}
ul.legend{list-style:none;padding:0;margin:6px 0 0}.swatch{display:inline-block;width:22px;height:6px;margin-right:6px;vertical-align:middle;border-radius:3px}
ol.cells{list-style:none;display:flex;flex-wrap:wrap;gap:4px;padding:0;margin:0 0 4px;max-width:1000px}
.cell{min-width:74px;padding:3px 6px;border-radius:4px;border:1px solid transparent;font-size:12px}
.cell b{display:block;font-size:14px}.cell span{display:block}
.cell.passed{background:#e8f5e9;border-color:var(--pass);color:#1b5e20}
.cell.failed{background:#ffebee;border-color:var(--fail);color:#b71c1c}
.cell.skipped{background:repeating-linear-gradient(135deg,#eceff1 0 6px,#fff 6px 12px);border-color:#b0bec5;color:#546e7a}
.cell.notreached{background:#fff;border:1px dashed #b0bec5;color:#90a4ae}
table.matrix td,table.matrix th{padding:1px 7px;text-align:center;font-size:12px}
.matrix .out.on{background:#e3f2fd}.matrix .in.on{background:#e8f5e9}.matrix .in.wrong{background:var(--fail);color:#fff;font-weight:700}
.matrix tr.wrong td:first-child{color:var(--fail);font-weight:700}
ul.findings{padding-left:18px}ul.findings li{margin:3px 0}
.sev{font-weight:700;font-size:12px}.sev.error{color:var(--fail)}.sev.warning{color:var(--warn)}.sev.informative{color:#0277bd}
p.untested{color:var(--grey);margin:4px 0}code{font-size:12px;color:#455a64}
@media print{body{background:#fff}section.port{break-inside:avoid;border-color:#999}}
)";

std::string Seconds(uint64_t milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(milliseconds) / 1000.0);
    return text;
}

// "2026-12-07T14:03:05Z" as people read it.
std::string Utc(const std::string& iso) {
    return iso.size() == 20 ? iso.substr(0, 10) + " " + iso.substr(11, 8) + " UTC" : iso;
}

// A verdict or result as a coloured word: green PASS, red FAIL, amber for the rest.
std::string Badge(const std::string& word, const char* kind) {
    std::string colour = word == "PASS" || word == "FAIL" ? word : "other";
    return std::string("<span class=\"") + kind + " " + colour + "\">" + HtmlEscape(word) + "</span>";
}

std::string Field(const std::string& name, const std::string& value) {
    return "<dt>" + name + "</dt><dd>" + value + "</dd>";
}

std::string Header(const HtmlSource& source) {
    const Session& session = source.session;
    uint64_t deviceMs = 0;
    for (const PortTally& port : source.ports) {
        deviceMs += port.deviceMs;
    }
    std::string tags;
    for (const auto& tag : session.tags) {
        tags += (tags.empty() ? "" : ", ") + HtmlEscape(tag.first + "=" + tag.second);
    }
    std::string meaning = ExitMeaning(source.exitCode, false);
    return "<header><h1>Serial port diagnostic on " + HtmlEscape(session.host) +
           "</h1><dl class=\"session\">" + Field("Host", HtmlEscape(session.host)) +
           Field("Operating system", HtmlEscape(session.os)) + Field("Started", Utc(session.startedAt)) +
           Field("Ended", Utc(session.endedAt)) + Field("Program", HtmlEscape(source.program)) +
           Field("Real time", RealText(session.realSeconds, false)) +
           Field(session.simulated ? "Simulated time" : "Device time", Seconds(deviceMs)) +
           (session.soak ? Field("Passes", std::to_string(session.passes)) : "") +
           (tags.empty() ? "" : Field("Tags", tags)) +
           Field("Exit status", std::to_string(source.exitCode) + (meaning.empty() ? "" : ": " + meaning)) +
           "</dl>" + "</header>";
}

// The runs of one port, test by test in the order the tests first ran.
std::vector<std::pair<std::string, TestRuns>> RunsByTest(const Session& session, const std::string& device) {
    std::vector<std::pair<std::string, TestRuns>> tests;
    for (const RunRecord& run : session.runs) {
        if (run.device != device) {
            continue;
        }
        auto test = std::find_if(tests.begin(), tests.end(),
                                 [&run](const auto& each) { return each.first == run.test; });
        if (test == tests.end()) {
            tests.emplace_back(run.test, TestRuns());
            test = tests.end() - 1;
        }
        test->second.push_back(&run);
    }
    return tests;
}

TestRuns RunsOf(const std::vector<std::pair<std::string, TestRuns>>& tests, int testId) {
    for (const auto& test : tests) {
        if (test.second.front()->id == testId) {
            return test.second;
        }
    }
    return TestRuns();
}

// Whether the run put back what it changed on the port: "as found", "not put back: why", or "" when the
// run changed nothing it had to put back (or the report is older than that record).
std::string LeftAsFound(const RunRecord& run) {
    std::string text;
    for (const std::optional<RestorePart>& part : {run.restore.registers, run.restore.comPort}) {
        if (part && !part->restored) {
            return "not put back: " + part->why;
        }
        text = part ? "as found" : text;
    }
    return text;
}

// One row per test: its result (in a soak, that of the run the pictures show, and how many failed), its
// time and errors, whether the port was left as found, and why a test that neither passed nor failed
// could not test the port.
std::string TestsTable(const std::vector<std::pair<std::string, TestRuns>>& tests, bool simulated) {
    bool reasons = false;
    for (const auto& test : tests) {
        reasons = reasons || !NotTestedReason(*ShownRun(test.second)).empty();
    }
    std::string rows;
    for (const auto& test : tests) {
        const RunRecord& shown = *ShownRun(test.second);
        uint64_t deviceMs = 0;
        unsigned errors = 0;
        unsigned failed = 0;
        for (const RunRecord* run : test.second) {
            deviceMs += run->DurationMs();
            errors += run->ErrorCount();
            failed += run->outcome.result == TestResult::FAIL() ? 1u : 0u;
        }
        std::string soak = test.second.size() > 1
                               ? " <small>" + std::to_string(failed) + " of " +
                                     std::to_string(test.second.size()) + " runs failed</small>"
                               : "";
        std::string result = shown.outcome.result.name();
        rows += "<tr data-test=\"" + shown.test + "\" data-result=\"" + result + "\"><td>" + shown.test +
                "<br><small>" + HtmlEscape(kivu5::EnglishTestName(shown.test)) + "</small></td><td>" +
                Badge(result, "result") + soak + "</td><td class=\"num\">" + Seconds(deviceMs) +
                "</td><td class=\"num\">" + std::to_string(errors) + "</td><td data-port-left=\"" +
                HtmlEscape(LeftAsFound(shown)) + "\">" + HtmlEscape(LeftAsFound(shown)) + "</td>" +
                (reasons ? "<td>" + HtmlEscape(NotTestedReason(shown)) + "</td>" : "") + "</tr>";
    }
    return std::string("<table class=\"tests\"><thead><tr><th>Test</th><th>Result</th><th>") +
           (simulated ? "Simulated" : "Time") + "</th><th>Errors</th><th>Port left</th>" +
           (reasons ? "<th>Why not tested</th>" : "") + "</tr></thead><tbody>" + rows + "</tbody></table>";
}

// A picture of one test, or why there is none.
std::string Picture(const TestRuns& runs, const std::string& figure) {
    if (runs.empty() || !figure.empty()) {
        return figure;
    }
    const RunRecord& shown = *ShownRun(runs);
    std::string reason = NotTestedReason(shown);
    return "<p class=\"untested\">" + shown.test + ": " + shown.outcome.result.name() +
           (reason.empty() ? "" : ": " + HtmlEscape(reason)) + "</p>";
}

// Every finding of the port's runs in the console's words, each once, with how often it came in a soak.
std::string FindingsList(const std::vector<std::pair<std::string, TestRuns>>& tests) {
    CCountedLines items;
    for (const auto& test : tests) {
        for (const RunRecord* run : test.second) {
            for (const Finding& finding : RunFindings(*run)) {
                std::string severity = finding.severity.empty() ? "note" : finding.severity;
                std::string item =
                    "<span class=\"sev " + severity + "\">" +
                    (finding.severity.empty() ? "SKIPPED" : SeverityWord(finding.severity)) + "</span> " +
                    run->test + ": " + HtmlEscape(finding.text) +
                    (finding.severity.empty() ? "" : " <code>[" + HtmlEscape(finding.key) + "]</code>");
                items.Add(item);
            }
        }
    }
    if (items.Items().empty()) {
        return "<p>No findings.</p>";
    }
    std::string html = "<ul class=\"findings\">";
    for (const auto& item : items.Items()) {
        html += "<li>" + item.first +
                (item.second > 1 ? " <small>" + CCountedLines::Times(item.second) + "</small>" : "") +
                "</li>";
    }
    return html + "</ul>";
}

// The port's verdict and tests with the plug's bridges beside them, the rate strips below, then the control
// signals beside the findings.
std::string PortCard(const HtmlSource& source, const PortTally& port) {
    auto tests = RunsByTest(source.session, port.device);
    TestRuns registerRuns = RunsOf(tests, EXTERNAL_REGISTER_TEST_ID);
    TestRuns loopbackRuns = RunsOf(tests, LOOPBACK_TEST_ID);
    TestRuns sendReceiveRuns = RunsOf(tests, SEND_AND_RECEIVE_TEST_ID);
    TestRuns signalRuns = RunsOf(tests, CONTROL_SIGNALS_TEST_ID);
    std::string connector =
        registerRuns.empty() && loopbackRuns.empty() ? "" : ConnectorFigure(registerRuns, loopbackRuns);
    std::string rates =
        Picture(loopbackRuns, loopbackRuns.empty() ? "" : LoopbackRatesFigure(*ShownRun(loopbackRuns))) +
        Picture(sendReceiveRuns, sendReceiveRuns.empty() ? ""
                                                         : SendReceiveRatesFigure(*ShownRun(sendReceiveRuns),
                                                                                  ShownRun(loopbackRuns)));
    std::string signals =
        Picture(signalRuns, signalRuns.empty() ? "" : ControlSignalsFigure(*ShownRun(signalRuns)));
    std::string device = HtmlEscape(port.device);
    return "<section class=\"port\" id=\"port-" + device + "\" data-device=\"" + device +
           "\" data-verdict=\"" + port.verdict + "\"><h2>" + device + " " + Badge(port.verdict, "verdict") +
           "</h2><p>" + std::to_string(port.passed) + " passed, " + std::to_string(port.failed) +
           " failed, " + std::to_string(port.notTested) + " not tested in " +
           DurationText(port.deviceMs, port.realSeconds, source.session.simulated) +
           "</p><div class=\"row\">" + TestsTable(tests, source.session.simulated) + connector + "</div>" +
           (source.session.soak
                ? "<p class=\"untested\">In this soak the pictures show each test's first run that "
                  "failed, or its last run.</p>"
                : "") +
           rates + "<div class=\"row\">" + signals + "<div class=\"findings\"><h3>Findings</h3>" +
           FindingsList(tests) + "</div></div></section>";
}

} // namespace

std::string HtmlPageText(const HtmlSource& source) {
    // Skipped entries are known by their position in the BaudRates list: name their rates from the list
    // the runs used, which the report holds, not from whatever list this process was given.
    kivu5::Parameter* rates = kivu5::Framework::findParameter("BaudRates");
    if (rates != nullptr && !source.baudRates.empty()) {
        rates->setValue(kivu5::Value::Uint32Array(source.baudRates));
    }
    std::string nav;
    std::string title;
    for (const PortTally& port : source.ports) {
        std::string device = HtmlEscape(port.device);
        std::string colour = port.verdict == "NOT TESTED" ? "other" : port.verdict;
        nav += "<a class=\"" + colour + "\" href=\"#port-" + device + "\">" + device + " " + port.verdict +
               "</a>";
        title += (title.empty() ? ": " : ", ") + device + " " + port.verdict;
    }
    std::string cards;
    for (const PortTally& port : source.ports) {
        cards += PortCard(source, port);
    }
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
           "<meta name=\"generator\" content=\"" +
           HtmlEscape(source.program) + "\"><title>Serial ports of " + HtmlEscape(source.session.host) +
           title + "</title><style>" + STYLE + "</style></head>\n<body>" + Header(source) + "<main><nav>" +
           nav + "</nav>" + cards + "</main></body></html>\n";
}

} // namespace tarnhost
