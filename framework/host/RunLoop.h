// The runs: each selected test on each selected device, in order, in this one process, so that the
// module's state (the adapter-prompt flag) carries from run to run as it would under the framework. A soak
// (--repeat, --for) does the same pass again and again.
#pragma once

#include "host/Console.h"
#include "host/Devices.h"
#include "host/PromptAnswer.h"
#include "host/RunRecord.h"
#include "host/SettingsLoader.h"
#include "kivu5/Framework.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

namespace tarnos {
class CCallRecorder;
}

namespace tarnhost {

// What the course of a session depends on besides the module and the platform seam: the person at the
// machine (the adapter prompt's answer, Ctrl-C) and, in a soak, the real clock. Live they are asked of the
// person, the scenario and the clock; a replay gives back those of its recording (Replay.h).
class IRunInputs {
public:
    virtual ~IRunInputs() = default;
    virtual kivu5::MsgBoxReturn PromptAnswer(const kivu5::PromptRequest& request) = 0;
    virtual bool StopCheck() = 0;  // the module's checkForStop()
    virtual bool CtrlC() = 0;      // the host's look, between runs, at whether the user stopped the session
    virtual bool PassBegins() = 0; // whether another pass over the tests begins
};

// How the runs meet the people and the machine around them.
struct RunContext {
    std::optional<PromptAnswer> answer;        // --answer: every prompt answered this way
    const HostSettings* settings = nullptr;    // preset answers by test
    std::FILE* questions = nullptr;            // where a prompt is asked when someone is at the terminal
    std::optional<uint32_t> stopAfterChecks;   // a scenario's stop: checks after the first N answer true
    bool realHardware = false;                 // the I/O-port guard opens only the port under test
    unsigned repeat = 0;                       // --repeat: at most this many passes (0: no limit given)
    unsigned forSeconds = 0;                   // --for: no pass begins after this much real time (0: none)
    bool restore = true;                       // put each port back as the test found it (PortRestore.h)
    IRunInputs* replayed = nullptr;            // --replay: the inputs of the recording instead of live ones
    tarnos::CCallRecorder* recorder = nullptr; // --record: each input written down as a line of its own
};

// Runs every test on every device, pass after pass while the soak lasts, into session (runs, passes,
// stopped). Without a soak, after a Ctrl-C nothing new starts and each run not started is recorded as
// TESTNOTSTARTED; in a soak, Ctrl-C ends it after the current test.
void RunEachTestOnEachDevice(const std::vector<HostDevice>& devices,
                             const std::vector<const kivu5::Test*>& tests, const RunContext& context,
                             CConsole& console, Session& session);

} // namespace tarnhost
