#include "host/HtmlSource.h"

#include "host/JsonStrict.h"
#include "host/TestTable.h"

#include <cmath>
#include <limits>

namespace tarnhost {
namespace {

using kivu5::TestResult;
using kivu5::TimelineEntry;
using nlohmann::json;

const std::vector<TestResult> RESULTS = {
    TestResult::PASS(),         TestResult::FAIL(),           TestResult::USERABORTED(),
    TestResult::NOTSUPPORTED(), TestResult::CANNOTRUN(),      TestResult::INTERNALERROR(),
    TestResult::NODEVICE(),     TestResult::TESTNOTSTARTED(), TestResult::EXITEDABNORMALLY()};
const uint64_t INT_LIMIT = static_cast<uint64_t>(std::numeric_limits<int>::max());

class CReportReader {
public:
    explicit CReportReader(const std::string& input) : m_check(input) {}

    HtmlSource Read(const json& root) {
        m_check.Object(root, "");
        m_check.OnlyKeys(root, "",
                         {"module", "version", "program", "exitCode", "simulated", "host", "os", "startedAt",
                          "endedAt", "realSeconds", "tags", "baudRates", "ports", "runs"});
        HtmlSource source;
        m_check.Choice(Required(root, "", "module"), "module", {"tarnserialport"});
        m_check.String(Required(root, "", "version"), "version");
        source.program = m_check.String(Required(root, "", "program"), "program");
        uint64_t exitCode = m_check.Integer(Required(root, "", "exitCode"), "exitCode", 0, 5);
        if (exitCode == 2 || exitCode == 4) { // bad input and unknown names write no report
            m_check.Fail("exitCode", std::to_string(exitCode) + " is not the exit status of a run");
        }
        source.exitCode = static_cast<int>(exitCode);
        Session& session = source.session;
        session.simulated = m_check.Bool(Required(root, "", "simulated"), "simulated");
        session.host = m_check.String(Required(root, "", "host"), "host");
        session.os = m_check.String(Required(root, "", "os"), "os");
        session.startedAt = Utc(Required(root, "", "startedAt"), "startedAt");
        session.endedAt = Utc(Required(root, "", "endedAt"), "endedAt");
        session.realSeconds = Seconds(Required(root, "", "realSeconds"), "realSeconds");
        const json& tags = m_check.Object(Required(root, "", "tags"), "tags");
        for (auto tag = tags.begin(); tag != tags.end(); ++tag) {
            session.tags.emplace_back(tag.key(), m_check.String(tag.value(), JsonKey("tags", tag.key())));
        }
        if (root.contains("baudRates")) {
            const json& rates = m_check.Array(root["baudRates"], "baudRates");
            for (size_t i = 0; i < rates.size(); ++i) {
                source.baudRates.push_back(static_cast<uint32_t>(m_check.Integer(
                    rates[i], JsonIndex("baudRates", i), 0, std::numeric_limits<uint32_t>::max())));
            }
        }
        const json& ports = m_check.Array(Required(root, "", "ports"), "ports");
        for (size_t i = 0; i < ports.size(); ++i) {
            source.ports.push_back(Port(ports[i], JsonIndex("ports", i)));
        }
        const json& runs = m_check.Array(Required(root, "", "runs"), "runs");
        for (size_t i = 0; i < runs.size(); ++i) {
            session.runs.push_back(Run(runs[i], JsonIndex("runs", i)));
            session.passes = std::max(session.passes, session.runs.back().pass);
        }
        session.soak = session.passes > 1;
        return source;
    }

private:
    const json& Required(const json& object, const std::string& path, const char* key) const {
        if (!object.contains(key)) {
            m_check.Fail(JsonKey(path, key), "missing");
        }
        return object[key];
    }

    double Seconds(const json& value, const std::string& path) const {
        if (!value.is_number() || value.get<double>() < 0) {
            m_check.Fail(path, "expected a number of seconds, 0 or more");
        }
        return value.get<double>();
    }

    uint64_t Milliseconds(const json& value, const std::string& path) const {
        return static_cast<uint64_t>(std::llround(Seconds(value, path) * 1000.0));
    }

    // UTC to the second, as the reports write it: "2026-12-07T14:03:05Z".
    std::string Utc(const json& value, const std::string& path) const {
        std::string text = m_check.String(value, path);
        const std::string FORM = "dddd-dd-ddTdd:dd:ddZ";
        bool valid = text.size() == FORM.size();
        for (size_t i = 0; valid && i < FORM.size(); ++i) {
            valid = FORM[i] == 'd' ? text[i] >= '0' && text[i] <= '9' : text[i] == FORM[i];
        }
        if (!valid) {
            m_check.Fail(path, "expected a UTC time such as 2026-12-07T14:03:05Z");
        }
        return text;
    }

    int Int(const json& value, const std::string& path) const {
        if (value.is_number_integer() && !value.is_number_unsigned() &&
            value.get<int64_t>() >= std::numeric_limits<int>::min()) {
            return static_cast<int>(value.get<int64_t>());
        }
        return static_cast<int>(m_check.Integer(value, path, 0, INT_LIMIT));
    }

    PortTally Port(const json& port, const std::string& path) const {
        m_check.Object(port, path);
        m_check.OnlyKeys(port, path,
                         {"device", "verdict", "passed", "failed", "notTested", "seconds", "realSeconds"});
        PortTally tally;
        tally.device = m_check.String(Required(port, path, "device"), JsonKey(path, "device"));
        tally.verdict = m_check.Choice(Required(port, path, "verdict"), JsonKey(path, "verdict"),
                                       {"PASS", "FAIL", "NOT TESTED"});
        tally.passed = Count(port, path, "passed");
        tally.failed = Count(port, path, "failed");
        tally.notTested = Count(port, path, "notTested");
        tally.deviceMs = Milliseconds(Required(port, path, "seconds"), JsonKey(path, "seconds"));
        tally.realSeconds = Seconds(Required(port, path, "realSeconds"), JsonKey(path, "realSeconds"));
        return tally;
    }

    unsigned Count(const json& object, const std::string& path, const char* key) const {
        return static_cast<unsigned>(m_check.Integer(Required(object, path, key), JsonKey(path, key), 0,
                                                     std::numeric_limits<unsigned>::max()));
    }

    RunRecord Run(const json& run, const std::string& path) const {
        m_check.Object(run, path);
        m_check.OnlyKeys(run, path,
                         {"test", "id", "device", "pass", "result", "exception", "startedAt", "seconds",
                          "realSeconds", "restore", "timeline"});
        RunRecord record;
        record.test = m_check.Choice(Required(run, path, "test"), JsonKey(path, "test"), TestNames());
        record.id = static_cast<int>(m_check.Integer(Required(run, path, "id"), JsonKey(path, "id"), 1, 5));
        if (TestNames()[static_cast<size_t>(record.id - 1)] != record.test) {
            m_check.Fail(JsonKey(path, "id"), std::to_string(record.id) + " is not the ID of " + record.test);
        }
        record.device = m_check.String(Required(run, path, "device"), JsonKey(path, "device"));
        record.pass = Count(run, path, "pass");
        if (record.pass == 0) {
            m_check.Fail(JsonKey(path, "pass"), "passes count from 1");
        }
        std::vector<const char*> names;
        for (const TestResult& result : RESULTS) {
            names.push_back(result.name());
        }
        std::string result = m_check.Choice(Required(run, path, "result"), JsonKey(path, "result"), names);
        for (const TestResult& known : RESULTS) {
            record.outcome.result = result == known.name() ? known : record.outcome.result;
        }
        const json& exception = Required(run, path, "exception");
        record.outcome.exception = !exception.is_null();
        if (record.outcome.exception) {
            record.outcome.exceptionMessage = m_check.String(exception, JsonKey(path, "exception"));
        }
        const json& started = Required(run, path, "startedAt");
        record.startedAt = started.is_null() ? "" : Utc(started, JsonKey(path, "startedAt"));
        record.outcome.endMs = Milliseconds(Required(run, path, "seconds"), JsonKey(path, "seconds"));
        record.realSeconds = Seconds(Required(run, path, "realSeconds"), JsonKey(path, "realSeconds"));
        if (run.contains("restore")) {
            record.restore = Restore(run["restore"], JsonKey(path, "restore"));
        }
        std::string timelinePath = JsonKey(path, "timeline");
        const json& timeline = m_check.Array(Required(run, path, "timeline"), timelinePath);
        for (size_t i = 0; i < timeline.size(); ++i) {
            record.outcome.timeline.push_back(Entry(timeline[i], JsonIndex(timelinePath, i)));
        }
        return record;
    }

    // What was put back after the run: each part restored with its values, or not, with why.
    RestoreRecord Restore(const json& restore, const std::string& path) const {
        m_check.Object(restore, path);
        m_check.OnlyKeys(restore, path, {"registers", "comPort"});
        RestoreRecord record;
        for (const char* key : {"registers", "comPort"}) {
            if (!restore.contains(key)) {
                continue;
            }
            const std::string partPath = JsonKey(path, key);
            const json& item = restore[key];
            m_check.Object(item, partPath);
            RestorePart part;
            part.saved = true;
            part.restored = m_check.Bool(Required(item, partPath, "restored"), JsonKey(partPath, "restored"));
            for (auto field = item.begin(); field != item.end(); ++field) {
                if (field.key() == "why") {
                    part.why = m_check.String(field.value(), JsonKey(partPath, "why"));
                } else if (field.key() != "restored") {
                    part.values.emplace_back(
                        field.key(), static_cast<uint32_t>(m_check.Integer(
                                         field.value(), JsonKey(partPath, field.key()), 0, 0xFFFFFFFFu)));
                }
            }
            (std::string(key) == "registers" ? record.registers : record.comPort) = part;
        }
        return record;
    }

    TimelineEntry Entry(const json& item, const std::string& path) const {
        m_check.Object(item, path);
        std::string kind = m_check.Choice(Required(item, path, "kind"), JsonKey(path, "kind"),
                                          {"event", "progress", "percent", "prompt", "log", "trace"});
        auto text = [&](const char* key) {
            return m_check.String(Required(item, path, key), JsonKey(path, key));
        };
        auto number = [&](const char* key) { return Int(Required(item, path, key), JsonKey(path, key)); };
        TimelineEntry entry;
        if (kind == "event") {
            m_check.OnlyKeys(item, path, {"kind", "name", "severity", "vars", "file", "line"});
            entry.kind = TimelineEntry::EventRaised;
            entry.name = text("name");
            entry.severity = m_check.Choice(Required(item, path, "severity"), JsonKey(path, "severity"),
                                            {"error", "warning", "informative"});
            entry.vars = Vars(Required(item, path, "vars"), JsonKey(path, "vars"));
            entry.file = text("file");
            entry.line = number("line");
        } else if (kind == "progress") {
            m_check.OnlyKeys(item, path, {"kind", "name", "vars"});
            entry.kind = TimelineEntry::Progress;
            entry.name = text("name");
            entry.vars = Vars(Required(item, path, "vars"), JsonKey(path, "vars"));
        } else if (kind == "percent") {
            m_check.OnlyKeys(item, path, {"kind", "value"});
            entry.kind = TimelineEntry::Percent;
            entry.value = static_cast<int>(
                m_check.Integer(Required(item, path, "value"), JsonKey(path, "value"), 0, 100));
        } else if (kind == "prompt") {
            m_check.OnlyKeys(item, path,
                             {"kind", "type", "text", "caption", "option", "lookAndFeel", "answer"});
            entry.kind = TimelineEntry::Prompt;
            entry.type = number("type");
            entry.text = text("text");
            entry.caption = text("caption");
            entry.option = number("option");
            entry.lookAndFeel = number("lookAndFeel");
            entry.value = number("answer");
            if (entry.value != kivu5::MSGBOX_RETURN_OK && entry.value != kivu5::MSGBOX_RETURN_CANCEL) {
                m_check.Fail(JsonKey(path, "answer"), "expected 100 (OK) or 150 (Cancel)");
            }
        } else if (kind == "log") {
            m_check.OnlyKeys(item, path, {"kind", "priority", "text"});
            entry.kind = TimelineEntry::Log;
            entry.value = number("priority");
            entry.text = text("text");
        } else {
            m_check.OnlyKeys(item, path, {"kind", "function", "file", "line", "entry", "text"});
            entry.kind = TimelineEntry::Trace;
            entry.name = text("function");
            entry.file = text("file");
            entry.line = number("line");
            entry.value = m_check.Bool(Required(item, path, "entry"), JsonKey(path, "entry")) ? 1 : 0;
            entry.text = text("text");
        }
        return entry;
    }

    std::vector<kivu5::VariableRecord> Vars(const json& list, const std::string& path) const {
        std::vector<kivu5::VariableRecord> vars;
        for (size_t i = 0; i < m_check.Array(list, path).size(); ++i) {
            std::string at = JsonIndex(path, i);
            const json& var = m_check.Object(list[i], at);
            m_check.OnlyKeys(var, at, {"name", "type", "value"});
            std::string name = m_check.String(Required(var, at, "name"), JsonKey(at, "name"));
            std::string type =
                m_check.Choice(Required(var, at, "type"), JsonKey(at, "type"), {"text", "int", "uint"});
            const json& value = Required(var, at, "value");
            std::string valuePath = JsonKey(at, "value");
            if (type == "text") {
                vars.push_back({name, kivu5::Value(qen::String(m_check.String(value, valuePath).c_str()))});
            } else if (type == "int") {
                vars.push_back({name, kivu5::Value(Int(value, valuePath))});
            } else {
                vars.push_back({name, kivu5::Value(static_cast<unsigned long>(m_check.Integer(
                                          value, valuePath, 0, std::numeric_limits<uint32_t>::max())))});
            }
        }
        return vars;
    }

    CJsonChecker m_check;
};

} // namespace

HtmlSource ReadHtmlSource(const std::string& reportText, const std::string& input) {
    return CReportReader(input).Read(ParseStrictJson(reportText, input));
}

} // namespace tarnhost
