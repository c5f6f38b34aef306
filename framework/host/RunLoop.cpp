#include "host/RunLoop.h"

#include "host/IoGuardSetup.h"
#include "host/Stop.h"
#include "host/Terminal.h"
#include "host/TestTable.h"

#include <string>

namespace tarnhost {
namespace {

using kivu5::Framework;

// --answer, else the settings file's preset for the test (when the prompt takes its answer from there),
// else the person at the terminal, else OK: nobody to ask, so go on, as a script on a factory line expects.
kivu5::MsgBoxReturn AnswerPrompt(const kivu5::PromptRequest& request, const RunContext& context,
                                 const std::string& test, CConsole& console) {
    if (context.answer) {
        return ToMsgBoxReturn(*context.answer);
    }
    if (request.answerSource == kivu5::FROM_SETTINGS_FILE()) {
        if (std::optional<PromptAnswer> preset = context.settings->AnswerFor(test)) {
            return ToMsgBoxReturn(*preset);
        }
    }
    if (IsTerminal(stdin)) {
        return ToMsgBoxReturn(console.Ask(request, stdin, context.questions));
    }
    return kivu5::MSGBOX_RETURN_OK;
}

// A Ctrl-C, or a scenario's scripted stop. Framework::stopChecks() counts this call too: with N, calls 1
// to N answer false.
bool StopNow(const RunContext& context) {
    return StopRequested() || (context.stopAfterChecks && Framework::stopChecks() > *context.stopAfterChecks);
}

} // namespace

std::vector<RunRecord> RunEachTestOnEachDevice(const std::vector<HostDevice>& devices,
                                               const std::vector<const kivu5::Test*>& tests,
                                               const RunContext& context, CConsole& console) {
    std::string currentTest;
    kivu5::HostHooks hooks;
    hooks.answerPrompt = [&](const kivu5::PromptRequest& request) {
        return AnswerPrompt(request, context, currentTest, console);
    };
    hooks.stopRequested = [&context] { return StopNow(context); };
    hooks.onEntry = [&console](const kivu5::TimelineEntry& entry) { console.Entry(entry); };
    Framework::setHooks(hooks);
    InstallStopHandler();

    std::vector<RunRecord> runs;
    for (const HostDevice& device : devices) {
        for (const kivu5::Test* test : tests) {
            RunRecord run{test->name(), TestId(test->name()), device.device.name(), kivu5::RunOutcome()};
            if (StopRequested()) {
                console.Line(run.device + " " + run.test + ": TESTNOTSTARTED (stopped by the user)");
                runs.push_back(std::move(run));
                continue;
            }
            currentTest = test->name();
            if (context.realHardware) {
                NarrowIoGuard(tarnos::RealPortIoGuard(), device.device);
            }
            console.RunStarting(run.device, run.test);
            run.outcome = kivu5::RunTestOnDevice(*test, device.device);
            console.RunFinished(run);
            runs.push_back(std::move(run));
        }
    }

    Framework::setHooks(kivu5::HostHooks());
    if (context.realHardware) {
        tarnos::RealPortIoGuard().SelectPortUnderTest("", std::nullopt); // no run: no window
    }
    return runs;
}

} // namespace tarnhost
