#include "host/HtmlPictures.h"
#include "host/HtmlText.h"
#include "host/LoopbackWires.h"

namespace tarnhost {
namespace {

using kivu5::TestResult;
using kivu5::TimelineEntry;

const unsigned COMBINATIONS = UART_MCR_OUTPUTS + 1;

unsigned ExpectedInputs(unsigned outputs) {
    unsigned inputs = 0;
    for (const LoopbackWire& wire : LOOPBACK_WIRES) {
        inputs |= (outputs & wire.output) != 0 ? wire.input : 0;
    }
    return inputs;
}

} // namespace

std::string ControlSignalsFigure(const RunRecord& run) {
    const TestResult& result = run.outcome.result;
    if (result != TestResult::PASS() && result != TestResult::FAIL()) {
        return ""; // the test ran all sixteen combinations, or none
    }
    // A combination reads as expected unless a MiscompareError names it by its expected inputs.
    unsigned seen[COMBINATIONS];
    for (unsigned n = 0; n < COMBINATIONS; ++n) {
        seen[n] = ExpectedInputs(n);
    }
    for (const TimelineEntry& entry : run.outcome.timeline) {
        if (entry.kind == TimelineEntry::EventRaised && entry.name == "MiscompareError") {
            for (unsigned n = 0; n < COMBINATIONS; ++n) {
                if (static_cast<long long>(ExpectedInputs(n)) == VarNumber(entry.vars, "ExpectedValue")) {
                    seen[n] = static_cast<unsigned>(VarNumber(entry.vars, "ValueRead"));
                }
            }
        }
    }
    std::string head = "<tr><th>#</th>";
    std::string inputsHead;
    for (const LoopbackWire& wire : LOOPBACK_WIRES) {
        head += std::string("<th>") + wire.outputName + "</th>";
        inputsHead += std::string("<th>") + wire.inputName + "</th>";
    }
    std::string rows;
    for (unsigned n = 0; n < COMBINATIONS; ++n) {
        unsigned expected = ExpectedInputs(n);
        std::string outputs;
        std::string inputs;
        std::string wrong;
        for (const LoopbackWire& wire : LOOPBACK_WIRES) {
            bool on = (n & wire.output) != 0;
            bool got = (seen[n] & wire.input) != 0;
            bool bad = got != ((expected & wire.input) != 0);
            outputs += std::string("<td class=\"out ") + (on ? "on\">on" : "off\">off") + "</td>";
            inputs += std::string("<td class=\"in ") + (got ? "on" : "off") + (bad ? " wrong" : "") +
                      "\" title=\"" + wire.inputName +
                      (bad ? (got ? " stuck on" : " stuck off") : " as expected") + "\">" +
                      (got ? "on" : "off") + "</td>";
            wrong += bad ? (wrong.empty() ? "" : " ") + std::string(wire.inputName) : "";
        }
        rows += "<tr data-combination=\"" + std::to_string(n) + "\" data-wrong=\"" + wrong + "\"" +
                (wrong.empty() ? "" : " class=\"wrong\"") + "><td>" + std::to_string(n) + "</td>" + outputs +
                inputs + "</tr>";
    }
    return "<figure class=\"signals\" data-test=\"InternalControlSignalsTest\"><table "
           "class=\"matrix\"><thead>"
           "<tr><th></th><th colspan=\"4\">outputs switched on</th><th colspan=\"4\">inputs seen</th></tr>" +
           head + inputsHead + "</tr></thead><tbody>" + rows +
           "</tbody></table><figcaption>InternalControlSignalsTest: the 16 combinations of the UART's "
           "outputs in "
           "internal loopback, where DTR drives DSR, RTS drives CTS, OUT1 drives RI and OUT2 drives DCD; an "
           "input "
           "that differs from its output is marked</figcaption></figure>";
}

} // namespace tarnhost
