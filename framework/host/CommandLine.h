// The command line (UsageText lists it), parsed with CLI11 into plain options. Values are checked
// here as far as they can be without the module (numbers, answers, forms); names of tests, devices and
// parameters are checked later, against what the module registered and what was found.
#pragma once

#include "host/PromptAnswer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnhost {

// The most passes of a soak: --repeat's limit, and --for's too. Every run is kept for the reports, and a
// simulated pass of one quick test takes microseconds.
const unsigned MOST_PASSES = 100000;

struct HostOptions {
    bool help = false;
    bool version = false;
    bool listTests = false;
    bool listDevices = false;
    std::vector<std::string> tests;                        // --test, in the order given
    std::vector<std::string> devices;                      // --device, in the order given
    std::vector<std::pair<std::string, std::string>> sets; // --set PARAM=VALUE, in the order given
    std::optional<std::string> settingsFile;
    std::optional<PromptAnswer> answer;
    bool sim = false;                      // --sim given
    std::string scenarioFile;              // --sim FILE; empty: the built-in scenario
    std::optional<std::string> reportFile; // "-" is standard output
    std::optional<std::string> junitFile;  // "-" is standard output
    std::optional<std::string> htmlFile;   // the HTML page; "-" is standard output
    std::optional<std::string> fromReport; // --from-report: the page of this JSON report, nothing run
    std::optional<std::string> logFile;
    std::optional<std::string> recordFile; // --record: every call to the OS and the UART registers
    std::optional<std::string> replayFile; // --replay: a recorded session played back, no port touched
    bool noRestore = false;                // --no-restore: ports left as the tests leave them
    int logPriority = 3;
    bool logPriorityGiven = false;
    bool noProgress = false;
    bool quiet = false;  // -q: the closing summary alone
    bool strict = false; // only PASS is a pass: NOTSUPPORTED and the others exit 3
    bool json = false;   // --list-devices as JSON
    std::vector<std::pair<std::string, std::string>> tags; // --tag KEY=VALUE, in the order given
    unsigned repeat = 0;                                   // --repeat N: at most N passes; 0: not given
    unsigned forSeconds = 0; // --for DURATION: passes begin until this much real time has gone; 0: not given
    std::vector<uint32_t> allowIo; // --allow-io: extra UART window bases, distinct, in the order given
};

// args excludes the program name. Throws CHostInputError for bad input.
HostOptions ParseCommandLine(const std::vector<std::string>& args);

// The text of --help.
std::string UsageText();

} // namespace tarnhost
