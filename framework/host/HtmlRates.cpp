#include "host/Findings.h"
#include "host/HostError.h"
#include "host/HtmlPictures.h"
#include "host/HtmlText.h"

#include <algorithm>
#include <cstdio>

namespace tarnhost {
namespace {

using kivu5::TestResult;
using kivu5::TimelineEntry;

// InternalSendAndReceiveTest's own table: nine rates, each the UART's 115200 bit/s clock over a whole
// divisor.
const long long SEND_RECEIVE_RATES[] = {1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200};

struct RateCell {
    std::string label; // the rate, or "entry N" for an entry of a list this program does not know
    long long rate;    // 0 when not known
    const char* state; // "passed", "failed", "skipped", "notreached"
    std::string note;
};

// One rate of a loopback run: the rate, and the error and warning events that came while it ran.
struct LoopbackPass {
    long long rate;
    std::vector<const TimelineEntry*> events;
};

struct LoopbackRun {
    bool listLoaded = false;
    std::vector<long long> skipped; // positions in the list of entries the port cannot be asked for
    std::vector<LoopbackPass> passes;
};

LoopbackRun ReadLoopback(const RunRecord& run) {
    LoopbackRun seen;
    for (const TimelineEntry& entry : run.outcome.timeline) {
        bool event = entry.kind == TimelineEntry::EventRaised;
        if (entry.kind == TimelineEntry::Progress && entry.name == "LoopbackProgress") {
            seen.passes.push_back(LoopbackPass{VarNumber(entry.vars, "BaudRate"), {}});
        } else if (event && entry.name == "InvalidBaudRateConfig") {
            seen.skipped.push_back(VarNumber(entry.vars, "BaudRateIndex"));
        } else if (event && entry.name == "NoValidBaudRateConfig") {
            seen.listLoaded = true;
        } else if (event && entry.severity != "informative" && !seen.passes.empty()) {
            seen.passes.back().events.push_back(&entry);
        }
    }
    // A test that ends of itself names its last rate once more as it finishes: no pass of its own.
    const TestResult& result = run.outcome.result;
    bool ended =
        result == TestResult::PASS() || result == TestResult::FAIL() || result == TestResult::USERABORTED();
    if (ended && !seen.passes.empty()) {
        seen.passes.pop_back();
    }
    seen.listLoaded = seen.listLoaded || !seen.skipped.empty() || !seen.passes.empty();
    return seen;
}

// What went wrong at one rate of the loopback run, in a few words.
std::string LoopbackNote(const LoopbackPass& pass) {
    std::vector<std::string> notes;
    long long wrong = 0;
    for (const TimelineEntry* event : pass.events) {
        const std::string& name = event->name;
        if (name == "FailedSetup") {
            notes.push_back("the driver refused the rate");
        } else if (name == "WriteCompletedShort") {
            notes.push_back(std::to_string(VarNumber(event->vars, "TotalSent")) + " of 256 sent");
        } else if (name == "IncorrectCharCount") {
            long long read = VarNumber(event->vars, "DataRead");
            notes.push_back(std::to_string(read) + (read < VarNumber(event->vars, "DataWritten")
                                                        ? " of 256 back"
                                                        : " back for 256"));
        } else if (name == "ReadDataIncorrect") {
            ++wrong;
        }
    }
    if (wrong > 0) {
        notes.push_back(std::to_string(wrong) + (wrong == 1 ? " wrong byte" : " wrong bytes"));
    }
    return Joined(notes, "; ");
}

RateCell PassCell(const LoopbackPass& pass, bool stopped) {
    if (stopped) {
        return RateCell{std::to_string(pass.rate), pass.rate, "notreached", "stopped by the user"};
    }
    return RateCell{std::to_string(pass.rate), pass.rate, pass.events.empty() ? "passed" : "failed",
                    LoopbackNote(pass)};
}

// The cells of a loopback run, one per entry of the list in list order, when this program's list (BaudRates
// as set now, or the default list) is the one the run validated: its skipped entries and the rates tried
// fit it. Otherwise (a report of a run with another BaudRates) only what the run itself names.
std::vector<RateCell> LoopbackCells(const RunRecord& run, bool& listKnown) {
    LoopbackRun seen = ReadLoopback(run);
    std::vector<uint32_t> list = ValidatedRates();
    std::vector<bool> skippedAt(list.size(), false);
    listKnown = true;
    for (long long position : seen.skipped) {
        bool inList = position >= 0 && static_cast<size_t>(position) < list.size();
        listKnown = listKnown && inList && list[static_cast<size_t>(position)] != SKIPPED_RATE_ENTRY;
        if (inList) {
            skippedAt[static_cast<size_t>(position)] = true;
        }
    }
    std::vector<size_t> tried; // positions of the entries validated, in order
    for (size_t i = 0; i < list.size(); ++i) {
        if (!skippedAt[i] && list[i] != SKIPPED_RATE_ENTRY) {
            tried.push_back(i);
        }
    }
    listKnown = listKnown && tried.size() >= seen.passes.size();
    for (size_t k = 0; listKnown && k < seen.passes.size(); ++k) {
        listKnown = list[tried[k]] == seen.passes[k].rate;
    }
    // One cell per rate tried; a run the user stopped did not finish its last.
    bool stopped = run.outcome.result == TestResult::USERABORTED();
    std::vector<RateCell> tries;
    for (size_t k = 0; k < seen.passes.size(); ++k) {
        tries.push_back(PassCell(seen.passes[k], stopped && k + 1 == seen.passes.size()));
    }
    std::vector<RateCell> cells;
    if (!listKnown) {
        for (long long position : seen.skipped) {
            cells.push_back(RateCell{"entry " + std::to_string(position), 0, "skipped", "not settable"});
        }
        cells.insert(cells.end(), tries.begin(), tries.end());
        return cells;
    }
    size_t k = 0;
    for (size_t i = 0; i < list.size() && seen.listLoaded; ++i) {
        if (skippedAt[i]) {
            cells.push_back(RateCell{std::to_string(list[i]), list[i], "skipped", "not settable"});
        } else if (list[i] == SKIPPED_RATE_ENTRY) {
            continue;
        } else if (k < tries.size()) {
            cells.push_back(tries[k++]);
        } else {
            cells.push_back(RateCell{std::to_string(list[i]), list[i], "notreached", ""});
        }
    }
    return cells;
}

std::string CellsHtml(const std::vector<RateCell>& cells) {
    std::string html = "<ol class=\"cells\">";
    for (const RateCell& cell : cells) {
        std::string state = cell.state;
        std::string shown = !cell.note.empty()      ? cell.note
                            : state == "passed"     ? "\xE2\x9C\x93" // a check mark
                            : state == "notreached" ? "not reached"
                                                    : state;
        html += "<li class=\"cell " + state + "\" data-rate=\"" + HtmlEscape(cell.label) +
                "\" data-state=\"" + state + "\" title=\"" + HtmlEscape(cell.label) + " bit/s: " + state +
                "\"><b>" + HtmlEscape(cell.label) + "</b><span>" + HtmlEscape(shown) + "</span></li>";
    }
    return html + "</ol>";
}

std::string Figure(const char* test, const std::string& cells, const std::string& caption) {
    return std::string("<figure class=\"rates\" data-test=\"") + test + "\">" + cells + "<figcaption>" +
           caption + "</figcaption></figure>";
}

// What went wrong at one row of the send-and-receive table: the first wrong byte where the test names it.
std::string SendReceiveNote(const TimelineEntry& event) {
    if (event.name == "BaudMiscompareError") {
        char text[48];
        std::snprintf(text, sizeof text, "sent 0x%02llX, got 0x%02llX",
                      VarNumber(event.vars, "ExpectedValue") & 0xFF,
                      VarNumber(event.vars, "ValueRead") & 0xFF);
        return text;
    }
    if (event.name == "TransmitTimeout") {
        return "timed out";
    }
    return event.name == "FramingError"  ? "framing error"
           : event.name == "ParityError" ? "parity error"
                                         : "overrun";
}

} // namespace

std::string LoopbackRatesFigure(const RunRecord& run) {
    bool listKnown = true;
    std::vector<RateCell> cells = LoopbackCells(run, listKnown);
    if (cells.empty()) {
        return "";
    }
    std::string caption = "ExternalLoopbackTest, bit/s: a 256-byte ramp through the plug's TX-RX bridge at "
                          "each rate of the list, "
                          "in order, up to the first rate that fails";
    if (!listKnown) {
        caption += ". This run's BaudRates list is not the one given now (the report does not hold it): give "
                   "the run's --set BaudRates or --settings to name every rate";
    }
    return Figure("ExternalLoopbackTest", CellsHtml(cells), caption);
}

std::string SendReceiveRatesFigure(const RunRecord& run, const RunRecord* loopback) {
    std::vector<long long> notSettable;
    bool listKnown = false;
    for (const RateCell& cell : loopback ? LoopbackCells(*loopback, listKnown) : std::vector<RateCell>()) {
        if (listKnown && std::string(cell.state) == "skipped") {
            notSettable.push_back(cell.rate);
        }
    }
    // Each row ends with its rate's progress text, whether it ran or was skipped; its events come before.
    std::vector<std::pair<long long, std::vector<const TimelineEntry*>>> rows;
    std::vector<const TimelineEntry*> pending;
    for (const TimelineEntry& entry : run.outcome.timeline) {
        if (entry.kind == TimelineEntry::Progress && entry.name == "PrgsSendReceive") {
            rows.emplace_back(VarNumber(entry.vars, "BaudRate"), pending);
            pending.clear();
        } else if (entry.kind == TimelineEntry::EventRaised && entry.severity == "error" &&
                   entry.name != "FailedSendRecieveTest" && entry.name != "FailedGetBaudRate") {
            pending.push_back(&entry);
        }
    }
    // Without an I/O base every row answers NOTSUPPORTED and still shows its progress text.
    if (rows.empty() || run.outcome.result == TestResult::NOTSUPPORTED()) {
        return "";
    }
    std::vector<RateCell> cells;
    for (long long rate : SEND_RECEIVE_RATES) {
        auto row =
            std::find_if(rows.begin(), rows.end(), [rate](const auto& each) { return each.first == rate; });
        RateCell cell{std::to_string(rate), rate, "notreached", ""};
        if (row != rows.end()) {
            bool skipped = std::find(notSettable.begin(), notSettable.end(), rate) != notSettable.end();
            cell.state = !row->second.empty() ? "failed" : skipped ? "skipped" : "passed";
            cell.note = !row->second.empty() ? SendReceiveNote(*row->second.front())
                        : skipped            ? "not settable"
                                             : "";
        }
        cells.push_back(cell);
    }
    return Figure(
        "InternalSendAndReceiveTest", CellsHtml(cells),
        "InternalSendAndReceiveTest, bit/s: every byte value through the UART's internal loopback at "
        "each rate. A rate the port's driver does not offer is skipped without a word; it shows as "
        "skipped where the loopback test found it not settable");
}

} // namespace tarnhost
