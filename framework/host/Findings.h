// A run's timeline in a technician's words. Each event becomes one finding with the signal names, the DB-9
// pins, the loopback plug's bridge, the rate it happened at and the byte values it carries; the rates of
// the list that the port cannot be asked for become one skipped-rates finding; and a run that neither
// passed nor failed gets the reason why, inferred from its own events and result.
#pragma once

#include "host/RunRecord.h"
#include "kivu5/Framework.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnhost {

struct Finding {
    std::string severity; // "error", "warning", "informative"; empty for the skipped rates
    std::string text;     // English, without the event's name
    std::string key;      // the event's name, the stable key a script matches
};

// The list ExternalLoopbackTest validates when the BaudRates parameter has no entries: the module's own
// default list, held here to name the rates of InvalidBaudRateConfig's positions.
const std::vector<uint32_t>& DefaultBaudRates();
// The entries of the list ExternalLoopbackTest validates: BaudRates as the host set it, or the default list.
std::vector<uint32_t> ValidatedRates();
// A BaudRates entry ExternalLoopbackTest passes over without a word, so a station can blank out one rate of
// a shared list.
const uint32_t SKIPPED_RATE_ENTRY = 0xFFFFFFFFu;

// Turns one run's timeline entries into findings as they are recorded. Some findings wait for what comes
// after them: the skipped rates until the list has been checked, the wrong bytes of a loopback pass until
// they are all counted, a line error of the internal send and receive test until the test names the rate
// of the row, NotTestable until the result gives its reason.
class CFindingNarrator {
public:
    explicit CFindingNarrator(int testId);

    // The findings complete once this entry is recorded, in the order they happened.
    std::vector<Finding> Add(const kivu5::TimelineEntry& entry);
    // The findings still waiting when the run ended.
    std::vector<Finding> Finish(const RunRecord& run);
    // Whether a NotTestable finding already told why the run could not test the port.
    bool ToldReason() const { return m_toldReason; }

private:
    // The skipped rates and the wrong bytes, once what follows them has come.
    std::vector<Finding> ReleaseCounted();
    Finding Describe(const kivu5::TimelineEntry& entry, long long contextRate) const;

    int m_testId;
    std::string m_portName;           // from the first progress text that names it
    std::vector<long long> m_skipped; // positions of InvalidBaudRateConfig, not yet shown
    long long m_rate = 0;             // the rate of the loopback pass under way, 0 before the first
    std::vector<kivu5::TimelineEntry> m_wrongBytes; // ReadDataIncorrect of the pass, one per position
    std::vector<kivu5::TimelineEntry> m_lineErrors; // waiting for their row's rate
    std::vector<kivu5::TimelineEntry> m_notTestable;
    bool m_toldReason = false;
};

// Every finding of a finished run, in order.
std::vector<Finding> RunFindings(const RunRecord& run);

// Why a run ended neither PASS nor FAIL ("" for those two), for example "no I/O base: a USB adapter ...".
std::string NotTestedReason(const RunRecord& run);

// "ERROR", "WARNING", "INFO".
std::string SeverityWord(const std::string& severity);

// A finding as one line: "ERROR: <text> [Key]"; the skipped rates, which stand for several events, as
// their text alone.
std::string FindingLine(const Finding& finding);

} // namespace tarnhost
