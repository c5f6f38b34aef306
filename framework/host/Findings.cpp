#include "host/Findings.h"

#include "host/LoopbackWires.h"
#include "host/TestTable.h"
#include "uart/SerialReg.h"

#include <cstdio>

namespace tarnhost {
namespace {

using kivu5::TestResult;
using kivu5::TimelineEntry;
using kivu5::Value;
using kivu5::VariableRecord;

// The external tests reach the port through the OS; the internal ones through its registers.
const int FIRST_EXTERNAL_TEST_ID = LOOPBACK_TEST_ID;
const char* const DRIVER_MISSING = "TARN Driver not installed!";

void AddText(std::vector<VariableRecord>& vars, const std::string& name, const std::string& text) {
    vars.push_back(VariableRecord{name, Value(qen::String(text.c_str()))});
}

// The inputs seen, in MSR's own bit order (CTS DSR RI DCD).
std::string Inputs(long long bits) {
    std::string names;
    for (unsigned bit = 1; bit <= (UART_MSR_DCD >> UART_MSR_INPUTS_SHIFT); bit <<= 1) {
        for (const LoopbackWire& wire : LOOPBACK_WIRES) {
            if (wire.input == bit && (bits & bit) != 0) {
                names += (names.empty() ? "" : " ") + std::string(wire.inputName);
            }
        }
    }
    return names.empty() ? "none" : names;
}

// The outputs that drive the expected inputs: the combination the test had switched on.
std::string OutputsOn(long long expectedInputs) {
    std::string names;
    for (const LoopbackWire& wire : LOOPBACK_WIRES) {
        if ((expectedInputs & wire.input) != 0) {
            names += (names.empty() ? "" : "+") + std::string(wire.outputName);
        }
    }
    return names.empty() ? "all outputs off" : names + " on";
}

std::string Hex(long long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02llX", value & 0xFF);
    return text;
}

const TimelineEntry* FindEvent(const RunRecord& run, const char* name) {
    for (const TimelineEntry& entry : run.outcome.timeline) {
        if (entry.kind == TimelineEntry::EventRaised && entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

bool HasEvent(const RunRecord& run, const char* name) {
    return FindEvent(run, name) != nullptr;
}

// A port the OS would not open: held by another program, or refused for another reason.
std::string OpenFailureReason(const RunRecord& run) {
    if (HasEvent(run, "AccessDeniedFailure")) {
        return kivu5::EnglishText("Reason.AccessDenied", {});
    }
    if (const TimelineEntry* open = FindEvent(run, "UnableToOpenPort")) {
        return kivu5::EnglishText("Reason.CannotOpen", open->vars);
    }
    return "";
}

bool AnsweredCancel(const RunRecord& run) {
    for (const TimelineEntry& entry : run.outcome.timeline) {
        if (entry.kind == TimelineEntry::Prompt && entry.value == kivu5::MSGBOX_RETURN_CANCEL) {
            return true;
        }
    }
    return false;
}

} // namespace

const std::vector<uint32_t>& DefaultBaudRates() {
    static const std::vector<uint32_t> rates = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                                19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return rates;
}

std::vector<uint32_t> ValidatedRates() {
    const kivu5::Parameter* parameter = kivu5::Framework::findParameter("BaudRates");
    std::vector<uint32_t> configured = parameter ? parameter->value().array() : std::vector<uint32_t>();
    return configured.empty() ? DefaultBaudRates() : configured;
}

CFindingNarrator::CFindingNarrator(int testId) : m_testId(testId) {}

std::vector<Finding> CFindingNarrator::Add(const TimelineEntry& entry) {
    if (entry.kind == TimelineEntry::Log || entry.kind == TimelineEntry::Trace) {
        return {};
    }
    if (entry.kind == TimelineEntry::EventRaised && entry.name == "InvalidBaudRateConfig") {
        m_skipped.push_back(VarNumber(entry.vars, "BaudRateIndex"));
        return {};
    }
    if (entry.kind == TimelineEntry::EventRaised && entry.name == "ReadDataIncorrect") {
        m_wrongBytes.push_back(entry);
        return {};
    }
    std::vector<Finding> out = ReleaseCounted();
    if (entry.kind == TimelineEntry::Progress) {
        if (const VariableRecord* port = FindVar(entry.vars, "PortNumber")) {
            m_portName = port->value.text();
        }
        if (entry.name == "LoopbackProgress") {
            m_rate = VarNumber(entry.vars, "BaudRate");
        }
        if (entry.name == "PrgsSendReceive") { // shown after its row: the rate the row's line errors were at
            for (const TimelineEntry& held : m_lineErrors) {
                out.push_back(Describe(held, VarNumber(entry.vars, "BaudRate")));
            }
            m_lineErrors.clear();
        }
        return out;
    }
    if (entry.kind != TimelineEntry::EventRaised) {
        return out;
    }
    bool lineError =
        entry.name == "FramingError" || entry.name == "ParityError" || entry.name == "OverrunError";
    if (entry.name == "NotTestable") {
        m_notTestable.push_back(entry);
    } else if (lineError && m_testId == SEND_AND_RECEIVE_TEST_ID) {
        m_lineErrors.push_back(entry);
    } else {
        out.push_back(Describe(entry, m_rate));
    }
    return out;
}

std::vector<Finding> CFindingNarrator::Finish(const RunRecord& run) {
    std::vector<Finding> out = ReleaseCounted();
    for (const TimelineEntry& held : m_lineErrors) {
        out.push_back(Describe(held, 0));
    }
    m_lineErrors.clear();
    std::string reason = NotTestedReason(run);
    for (TimelineEntry held : m_notTestable) {
        if (!reason.empty()) {
            AddText(held.vars, "Reason", reason);
            m_toldReason = true;
        }
        out.push_back(Describe(held, 0));
    }
    m_notTestable.clear();
    return out;
}

std::vector<Finding> CFindingNarrator::ReleaseCounted() {
    std::vector<Finding> out;
    if (!m_skipped.empty()) {
        std::vector<uint32_t> list = ValidatedRates();
        std::string rates;
        for (long long position : m_skipped) {
            bool known = position >= 0 && static_cast<size_t>(position) < list.size();
            rates +=
                (rates.empty() ? "" : ", ") + (known ? std::to_string(list[static_cast<size_t>(position)])
                                                     : "entry " + std::to_string(position));
        }
        std::vector<VariableRecord> vars;
        AddText(vars, "Rates", rates);
        AddText(vars, "PortNumber", m_portName);
        out.push_back(Finding{"", kivu5::EnglishText("SkippedRates", vars), "InvalidBaudRateConfig"});
        m_skipped.clear();
    }
    if (!m_wrongBytes.empty()) {
        // One line for the pass: the event names no position, so a hundred would say the same a hundred
        // times.
        TimelineEntry wrong = m_wrongBytes.front();
        wrong.vars.push_back(VariableRecord{"Count", Value(static_cast<unsigned long>(m_wrongBytes.size()))});
        out.push_back(Describe(wrong, m_rate));
        m_wrongBytes.clear();
    }
    return out;
}

Finding CFindingNarrator::Describe(const TimelineEntry& entry, long long contextRate) const {
    std::vector<VariableRecord> vars = entry.vars;
    if (contextRate != 0 && FindVar(vars, "BaudRate") == nullptr) {
        vars.push_back(VariableRecord{"BaudRate", Value(static_cast<unsigned long>(contextRate))});
    }
    std::string text = entry.name;
    if (entry.name == "MiscompareError") {
        long long expected = VarNumber(vars, "ExpectedValue");
        AddText(vars, "Outputs", OutputsOn(expected));
        AddText(vars, "Seen", Inputs(VarNumber(vars, "ValueRead")));
        AddText(vars, "Expected", Inputs(expected));
    } else if (entry.name == "BaudMiscompareError") {
        long long sent = VarNumber(vars, "ExpectedValue");
        long long got = VarNumber(vars, "ValueRead");
        AddText(vars, "Sent", Hex(sent));
        AddText(vars, "Got", Hex(got));
        AddText(vars, "Wrong", Hex(sent ^ got));
    } else if (entry.name == "ReadDataIncorrect" && VarNumber(vars, "Count") > 1) {
        text += ".Many";
    } else if (entry.name == "IncorrectCharCount") {
        long long read = VarNumber(vars, "DataRead");
        text += read == 0 ? ".None" : read < VarNumber(vars, "DataWritten") ? ".Fewer" : ".More";
    }
    return Finding{entry.severity, kivu5::EnglishText(text, vars), entry.name};
}

std::vector<Finding> RunFindings(const RunRecord& run) {
    CFindingNarrator narrator(run.id);
    std::vector<Finding> findings;
    for (const TimelineEntry& entry : run.outcome.timeline) {
        std::vector<Finding> some = narrator.Add(entry);
        findings.insert(findings.end(), some.begin(), some.end());
    }
    std::vector<Finding> rest = narrator.Finish(run);
    findings.insert(findings.end(), rest.begin(), rest.end());
    return findings;
}

std::string NotTestedReason(const RunRecord& run) {
    const TestResult& result = run.outcome.result;
    bool external = run.id >= FIRST_EXTERNAL_TEST_ID;
    std::string key;
    if (result == TestResult::PASS() || result == TestResult::FAIL()) {
        return "";
    } else if (result == TestResult::TESTNOTSTARTED()) {
        key = "Reason.NotStarted";
    } else if (result == TestResult::NODEVICE()) {
        key = "Reason.NoPortNumber";
    } else if (result == TestResult::EXITEDABNORMALLY()) {
        std::vector<VariableRecord> vars;
        AddText(vars, "Message", run.outcome.exceptionMessage);
        return kivu5::EnglishText(
            run.outcome.exceptionMessage == DRIVER_MISSING ? "Reason.NoDriver" : "Reason.Exception", vars);
    } else if (result == TestResult::USERABORTED()) {
        key = AnsweredCancel(run) ? "Reason.Cancelled" : "Reason.Stopped";
    } else if (result == TestResult::INTERNALERROR()) {
        key = HasEvent(run, "NoValidBaudRateConfig") ? "Reason.NoValidRate" : "";
    } else if (result == TestResult::CANNOTRUN() && HasEvent(run, "NotTestable")) {
        key = "Reason.Modem"; // only the modem screen refuses a port with CANNOTRUN
    } else if (!OpenFailureReason(run).empty()) {
        return OpenFailureReason(run);
    } else if (result == TestResult::NOTSUPPORTED()) {
        // The register tests refuse only a port without I/O base (silently) and an infrared-mode UART
        // (NotTestable); the tests through the OS only a driver that is no serial port's.
        key = external                       ? "Reason.NotSerial"
              : HasEvent(run, "NotTestable") ? "Reason.Infrared"
                                             : "Reason.NoIoBase";
    }
    return key.empty() ? "" : kivu5::EnglishText(key, {});
}

std::string SeverityWord(const std::string& severity) {
    if (severity == "error") {
        return "ERROR";
    }
    if (severity == "warning") {
        return "WARNING";
    }
    return "INFO";
}

std::string FindingLine(const Finding& finding) {
    return finding.severity.empty()
               ? finding.text
               : SeverityWord(finding.severity) + ": " + finding.text + " [" + finding.key + "]";
}

} // namespace tarnhost
