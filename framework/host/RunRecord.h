// One run of one test on one device, as the host keeps it for the console summary and the reports, and the
// session that holds the runs.
#pragma once

#include "kivu5/Framework.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnhost {

// What the host put back after one run (PortRestore.h): one part for the UART's registers, one for the COM
// port's settings, each absent when the test does not change it.
struct RestorePart {
    bool saved = false;                                   // what the test may change was read before it ran
    bool restored = false;                                // and written back after it
    std::string why;                                      // why not, when not restored
    std::vector<std::pair<std::string, uint32_t>> values; // what was written back, by register or field
};
struct RestoreRecord {
    std::optional<RestorePart> registers;
    std::optional<RestorePart> comPort;
};

struct RunRecord {
    std::string test;
    int id = 0;
    std::string device;
    kivu5::RunOutcome outcome;
    unsigned pass = 1; // which pass of a soak (--repeat, --for); 1 otherwise
    RestoreRecord restore;
    std::string startedAt;    // UTC, ISO 8601
    double realSeconds = 0.0; // by the host's own clock

    // Milliseconds from start to end by the platform's tick count (virtual on the simulator); the
    // 32-bit tick counter may wrap during a run.
    uint32_t DurationMs() const { return static_cast<uint32_t>(outcome.endMs - outcome.startMs); }
    // Error events of the run. Rates of the list the port cannot be asked for (InvalidBaudRateConfig) are
    // skipped, not errors of the port: they do not count.
    unsigned ErrorCount() const;
};

// Everything one invocation ran, with what the reports say about it as a whole.
struct Session {
    std::vector<RunRecord> runs;
    bool simulated = false;
    bool strict = false;   // --strict: only PASS is a pass
    bool soak = false;     // --repeat or --for: the selected tests again and again
    unsigned passes = 0;   // passes begun
    bool stopped = false;  // Ctrl-C ended the session early
    std::string startedAt; // UTC, ISO 8601
    std::string endedAt;
    double realSeconds = 0.0;
    std::string host;                                      // the machine's name
    std::string os;                                        // its operating system and version
    std::vector<std::pair<std::string, std::string>> tags; // --tag KEY=VALUE, in the order given
};

// The exit status of these runs: 0 when every run ended PASS or NOTSUPPORTED (with strict: PASS), 1 when
// any ended FAIL, 3 otherwise.
int ExitStatusFor(const std::vector<RunRecord>& runs, bool strict);

// What a port's runs add up to: FAIL when any failed; PASS when at least one passed and every other was
// not supported (with strict: every one passed); otherwise NOT TESTED.
struct PortTally {
    std::string device;
    std::string verdict; // "PASS", "FAIL", "NOT TESTED"
    unsigned passed = 0;
    unsigned failed = 0;
    unsigned notTested = 0; // every result but PASS and FAIL
    uint64_t deviceMs = 0;
    double realSeconds = 0.0;
};
std::vector<PortTally> TallyPorts(const std::vector<RunRecord>& runs, bool strict);

// A variable of a timeline entry by name, null when the entry has none; and the number it holds, 0 then.
inline const kivu5::VariableRecord* FindVar(const std::vector<kivu5::VariableRecord>& vars,
                                            const std::string& name) {
    for (const kivu5::VariableRecord& var : vars) {
        if (var.name == name) {
            return &var;
        }
    }
    return nullptr;
}
inline long long VarNumber(const std::vector<kivu5::VariableRecord>& vars, const std::string& name) {
    const kivu5::VariableRecord* var = FindVar(vars, name);
    return var ? var->value.number() : 0;
}

} // namespace tarnhost
