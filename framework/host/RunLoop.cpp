#include "host/RunLoop.h"

#include "host/Clock.h"
#include "host/CommandLine.h"
#include "host/IoGuardSetup.h"
#include "host/PortRestore.h"
#include "host/Stop.h"
#include "host/Terminal.h"
#include "host/TestTable.h"
#include "os/CallRecorder.h"

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

// A Ctrl-C (not in a soak: there the current test goes on to its end), or a scenario's scripted stop.
// Framework::stopChecks() counts this call too: with N, calls 1 to N answer false.
bool StopNow(const RunContext& context, bool soak) {
    return (!soak && StopRequested()) ||
           (context.stopAfterChecks && Framework::stopChecks() > *context.stopAfterChecks);
}

// Whether another pass begins: the first always; in a soak, then while --repeat and --for both allow it.
bool AnotherPass(const RunContext& context, const Session& session, SteadyTime start) {
    if (!session.soak || session.passes == 0) {
        return session.passes == 0;
    }
    return ((context.repeat == 0 || session.passes < context.repeat) &&
            (context.forSeconds == 0 || SecondsSince(start) < context.forSeconds));
}

// "Pass 3 of 10: 5 passed, 0 failed, 0 not tested (1.23 s real so far)".
std::string PassLine(const RunContext& context, const Session& session, size_t firstRun, SteadyTime start) {
    unsigned passed = 0, failed = 0, other = 0;
    for (size_t i = firstRun; i < session.runs.size(); ++i) {
        const kivu5::TestResult& result = session.runs[i].outcome.result;
        passed += result == kivu5::TestResult::PASS() ? 1u : 0u;
        failed += result == kivu5::TestResult::FAIL() ? 1u : 0u;
        other += result != kivu5::TestResult::PASS() && result != kivu5::TestResult::FAIL() ? 1u : 0u;
    }
    std::string of = context.repeat > 0 ? " of " + std::to_string(context.repeat) : "";
    // --for as it was given: 90s, 15m, 2h.
    unsigned seconds = context.forSeconds;
    std::string given = seconds % 3600 == 0 ? std::to_string(seconds / 3600) + "h"
                        : seconds % 60 == 0 ? std::to_string(seconds / 60) + "m"
                                            : std::to_string(seconds) + "s";
    std::string budget = seconds > 0 ? " of " + given : " so far";
    return "Pass " + std::to_string(session.passes) + of + ": " + std::to_string(passed) + " passed, " +
           std::to_string(failed) + " failed, " + std::to_string(other) + " not tested (" +
           RealText(SecondsSince(start), session.simulated) + budget + ")";
}

// The inputs as they come: from the person, the scenario and the clock.
class CLiveInputs final : public IRunInputs {
public:
    CLiveInputs(const RunContext& context, const Session& session, CConsole& console,
                const std::string& currentTest, SteadyTime start)
        : m_Context(context), m_Session(session), m_Console(console), m_Test(currentTest), m_Start(start) {}
    kivu5::MsgBoxReturn PromptAnswer(const kivu5::PromptRequest& request) override {
        return AnswerPrompt(request, m_Context, m_Test, m_Console);
    }
    bool StopCheck() override { return StopNow(m_Context, m_Session.soak); }
    bool CtrlC() override { return StopRequested(); }
    bool PassBegins() override {
        return AnotherPass(m_Context, m_Session, m_Start) && !(m_Session.soak && StopRequested());
    }

private:
    const RunContext& m_Context;
    const Session& m_Session;
    CConsole& m_Console;
    const std::string& m_Test;
    SteadyTime m_Start;
};

// Passes the inputs on, and with --record writes each down as a line among the calls, so that a replay
// can give the run the same answers: {"input":"stop","answer":false}.
class CRecordedInputs final : public IRunInputs {
public:
    CRecordedInputs(IRunInputs& inputs, tarnos::CCallRecorder* recorder)
        : m_Inputs(inputs), m_Recorder(recorder) {}
    kivu5::MsgBoxReturn PromptAnswer(const kivu5::PromptRequest& request) override {
        kivu5::MsgBoxReturn answer = m_Inputs.PromptAnswer(request);
        Write("prompt", std::to_string(answer));
        return answer;
    }
    bool StopCheck() override { return Written("stop", m_Inputs.StopCheck()); }
    bool CtrlC() override { return Written("ctrlC", m_Inputs.CtrlC()); }
    bool PassBegins() override { return Written("pass", m_Inputs.PassBegins()); }

private:
    bool Written(const char* kind, bool answer) {
        Write(kind, answer ? "true" : "false");
        return answer;
    }
    void Write(const char* kind, const std::string& answer) {
        if (m_Recorder != nullptr) {
            m_Recorder->Input(tarnos::InputLine(kind, answer));
        }
    }
    IRunInputs& m_Inputs;
    tarnos::CCallRecorder* m_Recorder;
};

} // namespace

void RunEachTestOnEachDevice(const std::vector<HostDevice>& devices,
                             const std::vector<const kivu5::Test*>& tests, const RunContext& context,
                             CConsole& console, Session& session) {
    std::string currentTest;
    SteadyTime start = SteadyNow();
    CLiveInputs live(context, session, console, currentTest, start);
    CRecordedInputs inputs(context.replayed ? *context.replayed : live, context.recorder);
    kivu5::HostHooks hooks;
    hooks.answerPrompt = [&inputs](const kivu5::PromptRequest& request) {
        return inputs.PromptAnswer(request);
    };
    hooks.stopRequested = [&inputs] { return inputs.StopCheck(); };
    hooks.onEntry = [&console](const kivu5::TimelineEntry& entry) { console.Entry(entry); };
    Framework::setHooks(hooks);
    InstallStopHandler(session.soak);

    while (inputs.PassBegins()) {
        ++session.passes;
        size_t firstRun = session.runs.size();
        for (const HostDevice& device : devices) {
            for (const kivu5::Test* test : tests) {
                RunRecord run;
                run.test = test->name();
                run.id = TestId(run.test);
                run.device = device.device.name();
                run.pass = session.passes;
                const bool stopped = inputs.CtrlC();
                if (stopped && session.soak) {
                    break; // a soak ends with the summary so far
                }
                if (stopped) {
                    console.Line(run.device + " " + run.test + ": TESTNOTSTARTED (stopped by the user)");
                    session.runs.push_back(std::move(run));
                    continue;
                }
                currentTest = test->name();
                if (context.realHardware) {
                    NarrowIoGuard(tarnos::RealPortIoGuard(), device.device);
                }
                console.RunStarting(run.device, run.test, run.id);
                run.startedAt = UtcNow();
                SteadyTime runStart = SteadyNow();
                CPortRestore restore(device, run.id, context.restore);
                run.outcome = kivu5::RunTestOnDevice(*test, device.device);
                run.restore = restore.Finish();
                run.realSeconds = SecondsSince(runStart);
                console.RunFinished(run);
                session.runs.push_back(std::move(run));
            }
        }
        if (session.soak && !inputs.CtrlC()) {
            console.Line(PassLine(context, session, firstRun, start));
        }
    }
    session.stopped = inputs.CtrlC();

    Framework::setHooks(kivu5::HostHooks());
    if (context.realHardware) {
        tarnos::RealPortIoGuard().SelectPortUnderTest("", std::nullopt); // no run: no window
    }
}

} // namespace tarnhost
