#include "host/HostError.h"
#include "host/HtmlPictures.h"
#include "host/HtmlText.h"

#include <algorithm>

namespace tarnhost {
namespace {

using kivu5::TestResult;
using kivu5::TimelineEntry;

// What the external tests found on one bridge, worst last: a fault outranks an unproven wire outranks a good
// pass outranks no test at all, so one failing pass of a soak paints the bridge red.
enum BridgeState { UNTESTED, GOOD, UNPROVEN, FAULT };
const char* const STATE_NAMES[] = {"untested", "good", "unproven", "fault"};
const char* const STATE_COLOURS[] = {"#9e9e9e", "#2e7d32", "#e65100", "#c62828"};
const char* const STATE_WORDS[] = {"not tested", "good", "unproven", "fault"};

// A bridge of the loopback plug, the test that checks it, the events that blame it, and how it is drawn:
// an SVG path between its two pins (below) and a few words for the legend.
struct Bridge {
    const char* pins;
    const char* wire;
    const char* test;
    std::vector<const char*> faults;
    const char* path;
};

// Pins as the connector is drawn, seen from the plug's solder side (the same as looking at the PC's male
// connector): 1 to 5 along the top row, 6 to 9 below, each row numbered from the left.
struct Pin {
    int x;
    int y;
    const char* signal;
    bool bridged; // DCD, signal ground and RI stay free
};
const Pin PINS[] = {{80, 75, "DCD", false},  {130, 75, "RXD", true},  {180, 75, "TXD", true},
                    {230, 75, "DTR", true},  {280, 75, "GND", false}, {105, 125, "DSR", true},
                    {155, 125, "RTS", true}, {205, 125, "CTS", true}, {255, 125, "RI", false}};

const std::vector<Bridge>& Bridges() {
    // 2-3 arches over the top row, 7-8 under the bottom row, 4-6 crosses between the rows.
    static const std::vector<Bridge> bridges = {
        {"2-3",
         "TX pin 3 to RX pin 2",
         "ExternalLoopbackTest",
         {"IncorrectCharCount", "ReadDataIncorrect"},
         "M130 75 C138 48 172 48 180 75"},
        {"4-6",
         "DTR pin 4 to DSR pin 6",
         "ExternalRegisterTest",
         {"DTR_StuckHigh", "DTR_StuckLow"},
         "M230 75 C215 105 125 95 105 125"},
        {"7-8",
         "RTS pin 7 to CTS pin 8",
         "ExternalRegisterTest",
         {"CTS_StuckHigh", "CTS_STuckLow"},
         "M155 125 C163 152 197 152 205 125"},
    };
    return bridges;
}

struct BridgeVerdict {
    BridgeState state = UNTESTED;
    std::string note;
};

// The events that blame one bridge or another.
std::vector<const char*> AllFaults() {
    std::vector<const char*> names;
    for (const Bridge& bridge : Bridges()) {
        names.insert(names.end(), bridge.faults.begin(), bridge.faults.end());
    }
    return names;
}

// The names of the run's error and warning events among names (or, with others, not among them), once each.
std::string EventNames(const RunRecord& run, const std::vector<const char*>& names, bool others) {
    std::vector<std::string> found;
    for (const TimelineEntry& entry : run.outcome.timeline) {
        bool named = std::find(names.begin(), names.end(), entry.name) != names.end();
        bool counts = entry.kind == TimelineEntry::EventRaised && entry.severity != "informative" &&
                      named != others && entry.name != "InvalidBaudRateConfig";
        if (counts && std::find(found.begin(), found.end(), entry.name) == found.end()) {
            found.push_back(entry.name);
        }
    }
    return Joined(found);
}

// One run's word on the bridge: its fault events blame the wire; a failure without any bridge's fault
// events (the driver refused the rate, the transmitter was held up) leaves the wire unproven; a run that
// could not test the port says nothing about it.
BridgeVerdict Judge(const Bridge& bridge, const RunRecord& run) {
    const TestResult& result = run.outcome.result;
    if (result == TestResult::PASS()) {
        return {GOOD, ""};
    }
    if (result != TestResult::FAIL()) {
        return {UNTESTED, run.test + " " + result.name()};
    }
    std::string faults = EventNames(run, bridge.faults, false);
    if (!faults.empty()) {
        return {FAULT, faults};
    }
    std::string others = EventNames(run, AllFaults(), true);
    return others.empty() ? BridgeVerdict{GOOD, ""} : BridgeVerdict{UNPROVEN, others};
}

BridgeVerdict JudgeAll(const Bridge& bridge, const TestRuns& runs) {
    BridgeVerdict worst;
    unsigned count = 0;
    for (const RunRecord* run : runs) {
        BridgeVerdict verdict = Judge(bridge, *run);
        count += verdict.state == FAULT ? 1u : 0u;
        worst = verdict.state > worst.state ? verdict : worst;
    }
    if (runs.empty()) {
        worst.note = std::string(bridge.test) + " did not run";
    } else if (runs.size() > 1 && worst.state == FAULT) {
        worst.note += " in " + std::to_string(count) + " of " + std::to_string(runs.size()) + " runs";
    }
    return worst;
}

std::string Svg(const std::vector<BridgeVerdict>& verdicts) {
    std::string svg = "<svg viewBox=\"0 0 360 200\" width=\"360\" height=\"200\" role=\"img\" "
                      "aria-label=\"DB-9 connector with the loopback plug's bridges\">"
                      "<path d=\"M30 40 H330 L290 160 H70 Z\" fill=\"#eceff1\" stroke=\"#455a64\" "
                      "stroke-width=\"3\" stroke-linejoin=\"round\"/>";
    for (size_t i = 0; i < Bridges().size(); ++i) {
        const Bridge& bridge = Bridges()[i];
        svg += std::string("<path class=\"bridge\" data-bridge=\"") + bridge.pins + "\" data-state=\"" +
               STATE_NAMES[verdicts[i].state] + "\" d=\"" + bridge.path + "\" stroke=\"" +
               STATE_COLOURS[verdicts[i].state] +
               "\" stroke-width=\"7\" stroke-linecap=\"round\" fill=\"none\"><title>" + bridge.wire + ": " +
               STATE_WORDS[verdicts[i].state] + "</title></path>";
    }
    for (size_t i = 0; i < sizeof PINS / sizeof PINS[0]; ++i) {
        const Pin& pin = PINS[i];
        std::string x = std::to_string(pin.x);
        std::string y = std::to_string(pin.y);
        svg += "<circle cx=\"" + x + "\" cy=\"" + y + "\" r=\"11\" fill=\"" +
               (pin.bridged ? "#fff" : "#cfd8dc") + "\" stroke=\"#37474f\" stroke-width=\"2\"/><text x=\"" +
               x + "\" y=\"" + std::to_string(pin.y + 4) + "\" class=\"pin\">" + std::to_string(i + 1) +
               "</text><text x=\"" + x + "\" y=\"" + (pin.y < 100 ? "28" : "182") + "\" class=\"signal\">" +
               pin.signal + "</text>";
    }
    return svg + "</svg>";
}

} // namespace

std::string ConnectorFigure(const TestRuns& registerRuns, const TestRuns& loopbackRuns) {
    std::vector<BridgeVerdict> verdicts;
    std::string legend;
    for (const Bridge& bridge : Bridges()) {
        verdicts.push_back(JudgeAll(
            bridge, std::string(bridge.test) == "ExternalLoopbackTest" ? loopbackRuns : registerRuns));
        const BridgeVerdict& verdict = verdicts.back();
        legend += std::string("<li data-bridge=\"") + bridge.pins + "\" data-state=\"" +
                  STATE_NAMES[verdict.state] +
                  "\"><span class=\"swatch\" style=\"background:" + STATE_COLOURS[verdict.state] +
                  "\"></span><b>" + bridge.pins + "</b> " + bridge.wire + ": " + STATE_WORDS[verdict.state] +
                  (verdict.note.empty() ? "" : " (" + HtmlEscape(verdict.note) + ")") + "</li>";
    }
    return "<figure class=\"connector\">" + Svg(verdicts) +
           "<figcaption>The loopback plug's bridges on the DB-9 connector, seen from the plug's solder side "
           "(as you look at the PC's connector)<ul class=\"legend\">" +
           legend + "</ul></figcaption></figure>";
}

} // namespace tarnhost
