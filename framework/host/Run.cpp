#include "host/Run.h"

#include "host/Clock.h"
#include "host/CommandLine.h"
#include "host/Console.h"
#include "host/Devices.h"
#include "host/HostError.h"
#include "host/HostInfo.h"
#include "host/HtmlPage.h"
#include "host/IoGuardSetup.h"
#include "host/JsonReport.h"
#include "host/JsonStrict.h"
#include "host/JunitReport.h"
#include "host/Listing.h"
#include "host/ParameterValues.h"
#include "host/Recording.h"
#include "host/Replay.h"
#include "host/ReportOutput.h"
#include "host/RunLoop.h"
#include "host/RunRecord.h"
#include "host/ScenarioLoader.h"
#include "host/Selection.h"
#include "host/SettingsLoader.h"
#include "host/Terminal.h"
#include "kivu5/Framework.h"
#include "sim/Simulation.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace tarnhost {
namespace {

using kivu5::Framework;

// --sim: the scenario file's hardware, or without a file the built-in port; none: this machine's ports.
std::optional<tarnsim::Scenario> ChosenScenario(const HostOptions& options) {
    if (!options.sim) {
        return std::nullopt;
    }
    return options.scenarioFile.empty() ? tarnsim::Scenario::BuiltIn()
                                        : LoadScenarioFile(options.scenarioFile);
}

// The devices to choose from. On real hardware register access goes through the I/O-port guard, which lets
// through only the UART windows the platform reports (and --allow-io's), and in each run only those of the
// port under test.
std::vector<HostDevice> FoundDevices(const HostOptions& options,
                                     const std::optional<tarnsim::Scenario>& scenario) {
    if (scenario) {
        return SimulatedDevices(*scenario);
    }
    PlatformPorts platform = EnumeratePlatformPorts();
    ConfigureIoGuard(tarnos::RealPortIoGuard(), platform.windows, options.allowIo, stderr);
    return platform.devices;
}

// How people see the runs on this stream. Colour only on a terminal, and never when NO_COLOR is set, to
// whatever value; the live progress line only on a terminal, and not with -q.
ConsoleStyle StyleFor(std::FILE* human, const HostOptions& options, bool simulated) {
    ConsoleStyle style;
    bool terminal = IsTerminal(human);
    style.liveBar = terminal && !options.noProgress && !options.quiet;
    style.colour = terminal && std::getenv("NO_COLOR") == nullptr && EnableColour(human);
    style.quiet = options.quiet;
    style.simulated = simulated;
    int columns = terminal ? TerminalColumns(human) : 0;
    style.columns = columns > 0 ? columns : 80;
    return style;
}

// What the reports say about the session before it runs.
Session SessionFor(const HostOptions& options, bool simulated) {
    Session session;
    session.simulated = simulated;
    session.strict = options.strict;
    session.soak = options.repeat > 0 || options.forSeconds > 0;
    session.tags = options.tags;
    session.host = HostName();
    session.os = OsDescription();
    session.startedAt = UtcNow();
    return session;
}

// The logger's lines pass the console first, for as long as it lives: it clears its live line, and keeps
// them off the screen with -q.
class CLogGate {
public:
    explicit CLogGate(CConsole& console) {
        qen::LogSink::setStreamGate([&console](std::FILE* stream) { return console.BeforeLogLine(stream); });
    }
    ~CLogGate() { qen::LogSink::setStreamGate(nullptr); }
    CLogGate(const CLogGate&) = delete;
    CLogGate& operator=(const CLogGate&) = delete;
};

// The reports at the end, and the exit status: 5 when one could not be written (each says so on standard
// error). The JSON report comes last, so that its exit code counts a JUnit file or page that failed. The
// page is drawn from the JSON report's text, as a page made later from the stored report is.
int WriteReports(CReportOutput& report, CReportOutput& junit, CReportOutput& html, const Session& session,
                 int exitStatus) {
    auto jsonText = [&session](int status) {
        return JsonReportText(BuildJsonReport(Framework::version(), status, session));
    };
    if (junit.Wanted() && !junit.Write(BuildJunitReport(session))) {
        exitStatus = EXIT_NOT_WRITTEN;
    }
    if (html.Wanted() && !html.Write(HtmlPageOfReport(jsonText(exitStatus), "--html"))) {
        exitStatus = EXIT_NOT_WRITTEN;
    }
    if (report.Wanted() && !report.Write(jsonText(exitStatus))) {
        exitStatus = EXIT_NOT_WRITTEN;
    }
    return exitStatus;
}

// --from-report: the page of a stored JSON report; a report that cannot be read is bad input.
int WritePageFromReport(const HostOptions& options) {
    std::string page =
        HtmlPageOfReport(ReadInputFile(*options.fromReport, "--from-report"), *options.fromReport);
    CReportOutput html(options.htmlFile, "--html");
    html.Start();
    return html.Write(page) ? EXIT_ALL_PASSED : EXIT_NOT_WRITTEN;
}

int RunOrThrow(const std::vector<std::string>& args) {
    HostOptions options = ParseCommandLine(args);
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return EXIT_ALL_PASSED;
    }
    if (options.version) {
        std::printf("tarnserialport %s\n", Framework::version().c_str());
        return EXIT_ALL_PASSED;
    }
    Framework::runModuleInit(); // the module attaches its parameters before tests are listed or run

    std::unique_ptr<CReplay> replay;
    if (options.replayFile) {
        replay.reset(new CReplay(*options.replayFile));
        TakeRecordedChoices(replay->Facts(), options);
    }
    std::optional<tarnsim::Scenario> scenario = ChosenScenario(options);
    const bool simulated = scenario.has_value() || (replay && replay->Facts().simulated);
    HostSettings settings;
    if (options.settingsFile) {
        settings = LoadSettingsFile(*options.settingsFile, ModuleCatalogue());
    }
    ApplyParameterValues(options, settings);
    qen::LoggerPriority::LOGGER_PRIORITY = options.logPriority;
    if (options.fromReport) {
        return WritePageFromReport(options);
    }

    if (options.listTests || options.listDevices) {
        if (options.listTests) {
            ListTests();
        }
        if (options.listDevices) {
            ListDevices(scenario ? PlatformPorts{SimulatedDevices(*scenario), {}, {}}
                                 : EnumeratePlatformPorts(),
                        options.json);
        }
        return EXIT_ALL_PASSED;
    }

    std::vector<HostDevice> found = replay ? replay->Facts().devices : FoundDevices(options, scenario);
    std::vector<const kivu5::Test*> tests = SelectTests(options.tests);
    std::vector<HostDevice> devices = SelectDevices(found, options.devices);
    std::string rateWarning = UnsettableRatesWarning(tests);

    // Outputs last among the checks, so bad input above leaves no files behind.
    CReportOutput report(options.reportFile, "--report");
    CReportOutput junit(options.junitFile, "--junit");
    CReportOutput html(options.htmlFile, "--html");
    if (options.logFile && !qen::LogSink::setFile(options.logFile->c_str())) {
        // The reports' destructors remove the files they created.
        throw CHostInputError(*options.logFile, "cannot be opened for writing (--log)");
    }
    std::unique_ptr<CRecording> recording;
    if (options.recordFile) {
        recording.reset(new CRecording(*options.recordFile,
                                       FactsOfThisSession(options, args, devices, tests, simulated)));
    }
    report.Start();
    junit.Start();
    html.Start();
    if (!rateWarning.empty()) {
        std::fprintf(stderr, "%s\n", rateWarning.c_str()); // the runs go ahead: the test skips those rates
    }

    // Standard output belongs to a report written there; people then read standard error.
    std::FILE* human = options.reportFile == std::string("-") || options.junitFile == std::string("-") ||
                               options.htmlFile == std::string("-")
                           ? stderr
                           : stdout;
    CConsole console(human, StyleFor(human, options, simulated));
    CLogGate logGate(console);

    std::unique_ptr<tarnsim::CSimulation> simulation;
    if (scenario) {
        simulation.reset(new tarnsim::CSimulation(*scenario));
        simulation->Install(); // otherwise the real backends of the platform answer the seam
    }
    if (replay) {
        replay->Install();
    }
    if (recording) {
        recording->Start();
    }
    RunContext context;
    context.answer = options.answer;
    context.settings = &settings;
    context.questions = IsTerminal(human) ? human : stderr;
    context.stopAfterChecks = scenario ? scenario->stopAfterChecks : std::nullopt;
    context.realHardware = !scenario && !replay;
    context.restore = !options.noRestore;
    context.replayed = replay.get();
    context.recorder = recording ? recording->Recorder() : nullptr;
    context.repeat = options.repeat;
    context.forSeconds = options.forSeconds;

    Session session = SessionFor(options, simulated);
    if (replay) { // the report describes the recorded machine
        session.host = replay->Facts().host;
        session.os = replay->Facts().os;
    }
    SteadyTime start = SteadyNow();
    RunEachTestOnEachDevice(devices, tests, context, console, session);
    session.endedAt = UtcNow();
    session.realSeconds = SecondsSince(start);
    if (replay) {
        replay->Finish(); // every recorded call asked
    }

    int exitStatus = ExitStatusFor(session.runs, session.strict);
    if (recording && !recording->Finish()) {
        exitStatus = EXIT_NOT_WRITTEN;
    }
    exitStatus = WriteReports(report, junit, html, session, exitStatus);
    console.Summary(session, exitStatus);
    return exitStatus;
}

} // namespace

int Run(const std::vector<std::string>& args) {
    try {
        return RunOrThrow(args);
    } catch (const CHostInputError& error) {
        std::fprintf(stderr, "%s\n", error.Line().c_str());
        return error.ExitStatus();
    } catch (const CReplayDiverged& difference) {
        std::fprintf(stderr, "%s\n", difference.Line().c_str());
        return EXIT_REPLAY_DIFFERS;
    }
}

} // namespace tarnhost
