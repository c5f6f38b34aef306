// The framework's own side of kivu5: what a host (the console program, the tests) uses to list what the
// module registered, run tests on devices, answer prompts and stop requests, and read the timeline.
#pragma once

#include "kivu5/kivu5.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kivu5 {

// One thing the module said during a run: an entry of the report's timeline.
struct TimelineEntry {
    enum Kind { EventRaised, Progress, Percent, Prompt, Log, Trace };
    explicit TimelineEntry(Kind entryKind = Log) : kind(entryKind) {}
    Kind kind;
    std::string name;     // event or localized-string name; trace: function
    std::string severity; // events: "error", "warning", "informative"
    std::vector<VariableRecord> vars;
    std::string file; // events: source file; trace: source file
    int line = 0;     // events and trace: source line
    int value = 0;    // percent; log: priority; prompt: answer; trace: 1 entry, 0 exit
    std::string text; // log: "<source line> <message>"; prompt: first text; progress: localized text
    // Prompt arguments.
    int type = 0;
    std::string caption;
    int option = 0;
    int lookAndFeel = 0;
    unsigned answerSource = 0;
    unsigned timeout = 0;
    bool modal = false;
    bool nullDetails = true;
    bool nullCallback = true;
    bool nullContext = true;
    uint64_t timeMs = 0; // platform tick count when said (virtual time on the simulator)
};

struct PromptRequest {
    MsgBoxType type;
    std::string text;
    std::string caption;
    unsigned answerSource;
};

// What hosts plug in; every member may stay empty (a prompt is then answered OK, a stop never asked).
struct HostHooks {
    std::function<MsgBoxReturn(const PromptRequest&)> answerPrompt;
    std::function<bool()> stopRequested;
    // Called for every timeline entry as it is recorded (live output).
    std::function<void(const TimelineEntry&)> onEntry;
};

class Framework {
public:
    // Everything the module created, in creation order ("Event NotTestable", "Test ExternalRegisterTest",
    // ...).
    static const std::vector<std::string>& creationLog();
    static const std::vector<Test*>& tests();
    static const std::vector<Event*>& events();
    static const std::vector<LocalizedString*>& localizedStrings();
    static const std::vector<Parameter*>& parameters();
    static Test* findTest(const std::string& name);
    static Event* findEvent(const std::string& name);
    static LocalizedString* findLocalizedString(const std::string& name);
    static Parameter* findParameter(const std::string& name);

    // What main gave setCmdLineArgs and setVersion; the init callback; whether it ran.
    static const std::vector<std::string>& commandLine();
    static std::string version(); // "5.0.000000001"
    static void
    runModuleInit(); // runs the callback once (and readies exception unwinding); later calls do nothing

    static void setHooks(HostHooks hooks);
    static HostHooks& hooks();

    // The timeline of the current run: cleared by beginRun, read by the host and the tests.
    static void beginRun();
    static const std::vector<TimelineEntry>& timeline();
    static unsigned stopChecks(); // calls of checkForStop() since beginRun
    static void record(TimelineEntry entry);
};

// What DiagModule::start() runs: defined by the host linked into the program (the console host in
// tarnserialport, a scripted host in the tests). Its result is start()'s result.
int HostStart();

// Runs one test's entry function on one device, as the framework does: the timeline starts empty; a
// qen::Exception that leaves the entry function is caught and reported as EXITEDABNORMALLY with its message.
struct RunOutcome {
    TestResult result = TestResult::TESTNOTSTARTED();
    bool exception = false;
    std::string exceptionMessage;
    std::vector<TimelineEntry> timeline;
    uint64_t startMs = 0;
    uint64_t endMs = 0;
};
RunOutcome RunTestOnDevice(const Test& test, const DiagDevice& device);

// The English texts of the events, localized strings and tests (framework/kivu5/EnglishTexts.cpp).
std::string EnglishText(const std::string& name, const std::vector<VariableRecord>& vars);
std::string EnglishTestName(const std::string& testName);

} // namespace kivu5
