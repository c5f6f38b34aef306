#include "host/JsonReport.h"

#include "host/Findings.h"

#include <cmath>

namespace tarnhost {
namespace {

using nlohmann::ordered_json;

ordered_json VarsJson(const std::vector<kivu5::VariableRecord>& vars) {
    ordered_json list = ordered_json::array();
    for (const kivu5::VariableRecord& var : vars) {
        ordered_json item;
        item["name"] = var.name;
        item["type"] = var.value.typeName(); // "text", "int", "uint" for the module's variables
        switch (var.value.kind()) {
        case kivu5::DataType::Text:
            item["value"] = var.value.text();
            break;
        case kivu5::DataType::Boolean:
            item["value"] = var.value.valueBool();
            break;
        case kivu5::DataType::Uint32Array:
            item["value"] = var.value.array();
            break;
        case kivu5::DataType::Int:
            item["value"] = var.value.number(); // signed: Value(int) may be negative
            break;
        default:
            item["value"] = static_cast<uint64_t>(var.value.number());
            break;
        }
        list.push_back(std::move(item));
    }
    return list;
}

// A part of what was put back after the run: the values written, or why nothing was.
ordered_json RestorePartJson(const RestorePart& part) {
    ordered_json item;
    item["restored"] = part.restored;
    if (part.restored) {
        for (const auto& value : part.values) {
            item[value.first] = value.second;
        }
    } else {
        item["why"] = part.why;
    }
    return item;
}

ordered_json RestoreJson(const RestoreRecord& restore) {
    ordered_json item = ordered_json::object();
    if (restore.registers) {
        item["registers"] = RestorePartJson(*restore.registers);
    }
    if (restore.comPort) {
        item["comPort"] = RestorePartJson(*restore.comPort);
    }
    return item;
}

ordered_json TimelineEntryJson(const kivu5::TimelineEntry& entry) {
    ordered_json item;
    switch (entry.kind) {
    case kivu5::TimelineEntry::EventRaised:
        item["kind"] = "event";
        item["name"] = entry.name;
        item["severity"] = entry.severity;
        item["vars"] = VarsJson(entry.vars);
        item["file"] = entry.file;
        item["line"] = entry.line;
        break;
    case kivu5::TimelineEntry::Progress:
        item["kind"] = "progress";
        item["name"] = entry.name;
        item["vars"] = VarsJson(entry.vars);
        break;
    case kivu5::TimelineEntry::Percent:
        item["kind"] = "percent";
        item["value"] = entry.value;
        break;
    case kivu5::TimelineEntry::Prompt:
        item["kind"] = "prompt";
        item["type"] = entry.type;
        item["text"] = entry.text;
        item["caption"] = entry.caption;
        item["option"] = entry.option;
        item["lookAndFeel"] = entry.lookAndFeel;
        item["answer"] = entry.value;
        break;
    case kivu5::TimelineEntry::Log:
        item["kind"] = "log";
        item["priority"] = entry.value;
        item["text"] = entry.text;
        break;
    case kivu5::TimelineEntry::Trace:
        // A TraceLogger line: the traced scope, where it stands, and whether it is the way in or out.
        item["kind"] = "trace";
        item["function"] = entry.name;
        item["file"] = entry.file;
        item["line"] = entry.line;
        item["entry"] = entry.value == 1;
        item["text"] = entry.text;
        break;
    }
    return item;
}

// Seconds kept to the millisecond: the clock says no more.
double Milliseconds(double seconds) {
    return std::round(seconds * 1000.0) / 1000.0;
}

std::string Dump(const ordered_json& value) {
    return value.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

} // namespace

ordered_json BuildJsonReport(const std::string& version, int exitCode, const Session& session) {
    ordered_json report;
    report["module"] = "tarnserialport";
    report["version"] = version;
    report["program"] = "tarnserialport " + version;
    report["exitCode"] = exitCode;
    report["simulated"] = session.simulated;
    report["host"] = session.host;
    report["os"] = session.os;
    report["startedAt"] = session.startedAt;
    report["endedAt"] = session.endedAt;
    report["realSeconds"] = Milliseconds(session.realSeconds);
    report["tags"] = ordered_json::object();
    for (const auto& tag : session.tags) {
        report["tags"][tag.first] = tag.second;
    }
    // The list the runs took their rates from (the module's own when none was given): skipped entries are
    // reported by their position in it, so a page drawn later needs it to name their rates.
    report["baudRates"] = ValidatedRates();
    report["ports"] = ordered_json::array();
    for (const PortTally& port : TallyPorts(session.runs, session.strict)) {
        report["ports"].push_back({{"device", port.device},
                                   {"verdict", port.verdict},
                                   {"passed", port.passed},
                                   {"failed", port.failed},
                                   {"notTested", port.notTested},
                                   {"seconds", static_cast<double>(port.deviceMs) / 1000.0},
                                   {"realSeconds", Milliseconds(port.realSeconds)}});
    }
    report["runs"] = ordered_json::array();
    for (const RunRecord& run : session.runs) {
        ordered_json item;
        item["test"] = run.test;
        item["id"] = run.id;
        item["device"] = run.device;
        item["pass"] = run.pass;
        item["result"] = run.outcome.result.name();
        item["exception"] =
            run.outcome.exception ? ordered_json(run.outcome.exceptionMessage) : ordered_json(nullptr);
        item["startedAt"] = run.startedAt.empty() ? ordered_json(nullptr) : ordered_json(run.startedAt);
        item["seconds"] = static_cast<double>(run.DurationMs()) / 1000.0;
        item["realSeconds"] = Milliseconds(run.realSeconds);
        item["restore"] = RestoreJson(run.restore);
        item["timeline"] = ordered_json::array();
        for (const kivu5::TimelineEntry& entry : run.outcome.timeline) {
            item["timeline"].push_back(TimelineEntryJson(entry));
        }
        report["runs"].push_back(std::move(item));
    }
    return report;
}

// Indented like dump(2), except that each timeline entry and each port stays on one line: a run's
// timeline can hold thousands of entries, and one line each keeps the file readable and diffable.
std::string JsonReportText(const ordered_json& report) {
    // An array whose items stand one a line, the closing bracket at indent.
    auto itemPerLine = [](const ordered_json& list, const std::string& indent) {
        std::string text = "[\n";
        for (size_t i = 0; i < list.size(); ++i) {
            text += indent + "  " + Dump(list[i]) + (i + 1 < list.size() ? ",\n" : "\n");
        }
        return text + indent + "]";
    };
    std::string text = "{\n";
    for (auto field = report.begin(); field != report.end(); ++field) {
        text += "  " + Dump(field.key()) + ": ";
        if (field.value().empty() || (field.key() != "runs" && field.key() != "ports")) {
            text += Dump(field.value());
        } else if (field.key() == "ports") {
            text += itemPerLine(field.value(), "  ");
        } else {
            text += "[\n";
            for (size_t r = 0; r < field.value().size(); ++r) {
                const ordered_json& run = field.value()[r];
                text += "    {\n";
                for (auto item = run.begin(); item != run.end(); ++item) {
                    text += "      " + Dump(item.key()) + ": ";
                    bool lines = item.key() == "timeline" && !item.value().empty();
                    text += lines ? itemPerLine(item.value(), "      ") : Dump(item.value());
                    text += std::next(item) != run.end() ? ",\n" : "\n";
                }
                text += r + 1 < field.value().size() ? "    },\n" : "    }\n";
            }
            text += "  ]";
        }
        text += std::next(field) != report.end() ? ",\n" : "\n";
    }
    return text + "}\n";
}

} // namespace tarnhost
