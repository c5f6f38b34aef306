// What a recording's first line says about its session (docs/recording.md): the machine and the program,
// the devices as the run saw them, the parameters' values, the tests, and the options that shape the runs
// and the report. --record writes it; --replay runs the same session from it.
#pragma once

#include "host/CommandLine.h"
#include "host/Devices.h"
#include "kivu5/kivu5.h"

#include <string>
#include <utility>
#include <vector>

namespace tarnhost {

struct SessionFacts {
    std::string program;  // "5.0.000000001"
    std::string platform; // "linux", "windows": whose backends answered
    std::string host;
    std::string os;
    bool simulated = false;
    std::vector<std::string> args; // the command line, for people
    std::vector<HostDevice> devices;
    std::vector<std::pair<std::string, std::string>> parameters; // name, value as --set writes it
    std::vector<std::string> tests;
    int logPriority = 3;
    bool strict = false;
    std::vector<std::pair<std::string, std::string>> tags;
    unsigned repeat = 0;
    unsigned forSeconds = 0;
    bool restore = true;
};

// This session's facts, once its devices, tests and parameter values are settled.
SessionFacts FactsOfThisSession(const HostOptions& options, const std::vector<std::string>& args,
                                const std::vector<HostDevice>& devices,
                                const std::vector<const kivu5::Test*>& tests, bool simulated);
// The first line of a recording, and back: a line that is not one of this format's is bad input naming
// path.
std::string FactsLine(const SessionFacts& facts);
SessionFacts ParseFactsLine(const std::string& line, const std::string& path);
// The recorded session's choices in place of the command line's: tests, devices, parameters, the log
// priority, --strict, --tag, the soak and --no-restore.
void TakeRecordedChoices(const SessionFacts& facts, HostOptions& options);

} // namespace tarnhost
