#include "host/Summary.h"

#include "host/Clock.h"
#include "host/CountedLines.h"
#include "host/Findings.h"
#include "host/HostError.h"

#include <algorithm>
#include <cstdio>

namespace tarnhost {
namespace {

using Paint = std::function<std::string(const std::string&)>;

std::string Pad(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string PadLeft(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// A word padded to width, painted without the blanks, so colour codes never shift the columns.
std::string PaintPadded(const Paint& paint, const std::string& word, size_t width) {
    return paint(word) + Pad("", width > word.size() ? width - word.size() : 0);
}

std::string DeviceSeconds(uint64_t milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(milliseconds) / 1000.0);
    return text;
}

struct Widths {
    size_t device = 6;
    size_t test = 4;
};

Widths WidthsOf(const std::vector<RunRecord>& runs) {
    Widths widths;
    for (const RunRecord& run : runs) {
        widths.device = std::max(widths.device, run.device.size());
        widths.test = std::max(widths.test, run.test.size());
    }
    return widths;
}

std::string RunTable(const Session& session, const Paint& paint) {
    Widths w = WidthsOf(session.runs);
    std::string text = Pad("Device", w.device) + "  " + Pad("Test", w.test) + "  " + Pad("Result", 16) +
                       PadLeft(session.simulated ? "Simulated" : "Time", 10) + PadLeft("Errors", 8) + "\n";
    for (const RunRecord& run : session.runs) {
        text += Pad(run.device, w.device) + "  " + Pad(run.test, w.test) + "  " +
                PaintPadded(paint, run.outcome.result.name(), 16) +
                PadLeft(DeviceSeconds(run.DurationMs()), 10) + PadLeft(std::to_string(run.ErrorCount()), 8) +
                "\n";
    }
    return text;
}

// In a soak: per port and test, how many runs there were and how they ended.
std::string SoakTable(const Session& session) {
    struct Row {
        std::string device, test;
        unsigned runs = 0, passed = 0, failed = 0;
    };
    std::vector<Row> rows;
    for (const RunRecord& run : session.runs) {
        auto row = std::find_if(rows.begin(), rows.end(), [&run](const Row& each) {
            return each.device == run.device && each.test == run.test;
        });
        if (row == rows.end()) {
            rows.push_back(Row{run.device, run.test});
            row = rows.end() - 1;
        }
        ++row->runs;
        row->passed += run.outcome.result == kivu5::TestResult::PASS() ? 1u : 0u;
        row->failed += run.outcome.result == kivu5::TestResult::FAIL() ? 1u : 0u;
    }
    Widths w = WidthsOf(session.runs);
    std::string text = Pad("Device", w.device) + "  " + Pad("Test", w.test) + PadLeft("Runs", 8) +
                       PadLeft("Passed", 8) + PadLeft("Failed", 8) + PadLeft("Not tested", 12) + "\n";
    for (const Row& row : rows) {
        text += Pad(row.device, w.device) + "  " + Pad(row.test, w.test) +
                PadLeft(std::to_string(row.runs), 8) + PadLeft(std::to_string(row.passed), 8) +
                PadLeft(std::to_string(row.failed), 8) +
                PadLeft(std::to_string(row.runs - row.passed - row.failed), 12) + "\n";
    }
    return text;
}

// What kept a port's runs from passing, each line once, with how often it came in a soak.
std::string Failures(const Session& session, const std::string& device, const Paint& paint) {
    CCountedLines lines;
    auto add = [&lines](const std::string& line) { lines.Add(line); };
    for (const RunRecord& run : session.runs) {
        if (run.device != device || run.outcome.result == kivu5::TestResult::PASS()) {
            continue;
        }
        std::string reason = NotTestedReason(run);
        if (run.outcome.result != kivu5::TestResult::FAIL()) {
            add("  " + run.test + ": " + paint(run.outcome.result.name()) +
                (reason.empty() ? "" : ": " + reason));
            continue;
        }
        // The first few findings: a dead UART gives dozens, each shown as the run went.
        const size_t SHOWN = 3;
        size_t count = 0;
        for (const Finding& finding : RunFindings(run)) {
            if (finding.severity == "error" || finding.severity == "warning") {
                if (++count <= SHOWN) {
                    add("  " + run.test + ": " + paint(SeverityWord(finding.severity)) + ": " + finding.text +
                        " [" + finding.key + "]");
                }
            }
        }
        if (count > SHOWN) {
            add("  " + run.test + ": and " + std::to_string(count - SHOWN) + " more");
        }
    }
    std::string text;
    for (const auto& line : lines.Items()) {
        text += line.first + (line.second > 1 ? " " + CCountedLines::Times(line.second) : "") + "\n";
    }
    return text;
}

std::string Plural(unsigned count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

} // namespace

std::string ExitMeaning(int exitStatus, bool strict) {
    switch (exitStatus) {
    case EXIT_ALL_PASSED:
        return strict ? "every run passed" : "every run passed or was not supported";
    case EXIT_SOME_FAILED:
        return "a run failed";
    case EXIT_BAD_INPUT:
        return "bad input";
    case EXIT_NOT_PASSED:
        return "no run failed, but not every run passed";
    case EXIT_NOT_FOUND:
        return "no such device or test";
    case EXIT_NOT_WRITTEN:
        return "a report or record file could not be written";
    default:
        return "";
    }
}

std::string SummaryText(const Session& session, int exitStatus, const Paint& paint) {
    std::string text = "\n" + (session.soak ? SoakTable(session) : RunTable(session, paint)) + "\n";
    std::vector<PortTally> ports = TallyPorts(session.runs, session.strict);
    for (const PortTally& port : ports) {
        text += port.device + ": " + paint(port.verdict) + "\n" + Failures(session, port.device, paint);
    }
    for (const PortTally& port : ports) {
        text += port.device + ": " + std::to_string(port.passed) + " passed, " + std::to_string(port.failed) +
                " failed, " + std::to_string(port.notTested) + " not tested in " +
                DurationText(port.deviceMs, port.realSeconds, session.simulated) + "\n";
    }
    std::string passes = session.soak ? Plural(session.passes, "pass", "passes") +
                                            (session.stopped ? ", ended by Ctrl-C," : "") + " in "
                                      : "";
    text += "Session: " + passes + RealText(session.realSeconds, session.simulated) + "\n";
    std::string meaning = ExitMeaning(exitStatus, session.strict);
    return text + "Exit status " + std::to_string(exitStatus) + (meaning.empty() ? "" : ": " + meaning) +
           "\n";
}

} // namespace tarnhost
