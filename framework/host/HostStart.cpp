// The console host: what DiagModule::start() runs in the shipped program. It reads the command line,
// chooses the hardware (real or simulated), the devices, the tests and the parameters, runs each selected
// test on each selected device in one process, and reports.
#include "host/CommandLine.h"
#include "host/Console.h"
#include "host/Devices.h"
#include "host/HostError.h"
#include "host/IoGuardSetup.h"
#include "host/JsonReport.h"
#include "host/JunitReport.h"
#include "host/ParameterText.h"
#include "host/RunRecord.h"
#include "host/ScenarioLoader.h"
#include "host/SettingsLoader.h"
#include "host/Stop.h"
#include "host/Terminal.h"
#include "host/TestTable.h"
#include "kivu5/Framework.h"
#include "sim/Simulation.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

namespace tarnhost {
namespace {

using kivu5::Framework;

// Where a report goes: a file opened before anything runs (so a bad path is bad input), or stdout. Opened
// in two steps, so that bad input found after it (another output's path) leaves no trace: first without
// truncating (a file it had to create is removed again if the run never starts), then, once every check
// has passed, emptied by Start.
class CReportOutput {
public:
    CReportOutput(const std::optional<std::string>& path, const char* option) : m_option(option) {
        if (!path || *path == "-") {
            m_toStdout = path.has_value();
            return;
        }
        m_path = *path;
        std::error_code error;
        m_created = !std::filesystem::exists(m_path, error);
        m_file.open(m_path, std::ios::binary | std::ios::app);
        if (!m_file) {
            throw CHostInputError(m_path, std::string("cannot be opened for writing (") + option + ")");
        }
    }
    ~CReportOutput() {
        if (m_file.is_open() && !m_started && m_created) {
            m_file.close();
            std::error_code error;
            std::filesystem::remove(m_path, error);
        }
    }
    CReportOutput(const CReportOutput&) = delete;
    CReportOutput& operator=(const CReportOutput&) = delete;

    // Every check passed: the file is the run's from now on, emptied of an earlier report.
    void Start() {
        if (m_file.is_open()) {
            m_file.close();
            m_file.open(m_path, std::ios::binary | std::ios::trunc);
            m_started = true;
        }
    }
    bool Wanted() const { return m_toStdout || m_file.is_open(); }
    // Returns false, after saying so on stderr, when the text could not be written.
    bool Write(const std::string& text) {
        if (m_toStdout) {
            std::fputs(text.c_str(), stdout);
            return std::fflush(stdout) == 0;
        }
        m_file << text;
        m_file.close();
        if (!m_file) {
            std::fprintf(stderr, "tarnserialport: %s: could not be written (%s)\n", m_path.c_str(), m_option);
            return false;
        }
        return true;
    }

private:
    const char* m_option;
    bool m_toStdout = false;
    bool m_created = false;
    bool m_started = false;
    std::string m_path;
    std::ofstream m_file;
};

SettingsCatalogue Catalogue() {
    SettingsCatalogue catalogue;
    for (const kivu5::Parameter* parameter : Framework::parameters()) {
        catalogue.parameters.emplace_back(parameter->name(), parameter->type().kind());
    }
    for (const kivu5::Test* test : Framework::tests()) {
        catalogue.tests.push_back(test->name());
    }
    return catalogue;
}

// Parameter values before they are given to the framework: defaults, then the settings file, then --set.
std::vector<std::pair<kivu5::Parameter*, kivu5::Value>> ParameterValues(const HostOptions& options,
                                                                        const HostSettings& settings) {
    std::vector<std::pair<kivu5::Parameter*, kivu5::Value>> values;
    auto set = [&](kivu5::Parameter* parameter, kivu5::Value value) {
        for (auto& item : values) {
            if (item.first == parameter) {
                item.second = std::move(value);
                return;
            }
        }
        values.emplace_back(parameter, std::move(value));
    };
    // The defaults: the prompt on, and an empty BaudRates (so the module's default list).
    if (kivu5::Parameter* prompt = Framework::findParameter("PromptUserForLoopBack")) {
        set(prompt, kivu5::Value::Bool(true));
    }
    if (kivu5::Parameter* rates = Framework::findParameter("BaudRates")) {
        set(rates, kivu5::Value::Uint32Array({}));
    }
    for (const auto& item : settings.parameters) {
        set(Framework::findParameter(item.first), item.second); // names checked by the settings loader
    }
    for (const auto& item : options.sets) {
        kivu5::Parameter* parameter = Framework::findParameter(item.first);
        if (parameter == nullptr) {
            std::string known;
            for (const kivu5::Parameter* p : Framework::parameters()) {
                known += (known.empty() ? "" : ", ") + p->name();
            }
            throw CHostInputError("--set " + item.first, "unknown parameter (known: " + known + ")");
        }
        set(parameter, ParseParameterValue(parameter->type().kind(), item.second, "--set " + item.first));
    }
    return values;
}

void ListTests() {
    for (const kivu5::Test* test : Framework::tests()) {
        std::string needs, parameters;
        for (const auto& requirement : test->requirements()) {
            needs += (needs.empty() ? "" : ", ") + requirement.first +
                     (requirement.second.empty() ? "" : "=" + requirement.second);
        }
        for (const kivu5::Parameter* parameter : test->parameters()) {
            parameters += (parameters.empty() ? "" : ", ") + parameter->name();
        }
        std::string name = test->name();
        std::printf("%-28s ID %d  requires: %s  parameters: %s\n", name.c_str(), TestId(name),
                    needs.empty() ? "none" : needs.c_str(), parameters.empty() ? "none" : parameters.c_str());
    }
}

std::vector<const kivu5::Test*> SelectTests(const std::vector<std::string>& names) {
    std::vector<const kivu5::Test*> tests;
    if (names.empty()) {
        tests.assign(Framework::tests().begin(), Framework::tests().end()); // registration order
        return tests;
    }
    for (const std::string& name : names) {
        const kivu5::Test* test = Framework::findTest(name);
        if (test == nullptr) {
            std::string known;
            for (const kivu5::Test* t : Framework::tests()) {
                known += (known.empty() ? "" : ", ") + t->name();
            }
            throw CHostInputError("--test " + name, "no such test (tests: " + known + ")", EXIT_NOT_FOUND);
        }
        tests.push_back(test);
    }
    return tests;
}

std::vector<HostDevice> SelectDevices(const std::vector<HostDevice>& found,
                                      const std::vector<std::string>& names) {
    if (found.empty()) {
        throw CHostInputError("devices", "no serial device found", EXIT_NOT_FOUND);
    }
    if (names.empty()) {
        return found;
    }
    std::vector<HostDevice> selected;
    for (const std::string& name : names) {
        std::string known;
        for (const HostDevice& device : found) {
            known += (known.empty() ? "" : ", ") + device.device.name();
            if (device.device.name() == name) {
                selected.push_back(device);
                known.clear();
                break;
            }
        }
        if (!known.empty()) {
            throw CHostInputError("--device " + name, "no such device (found: " + known + ")",
                                  EXIT_NOT_FOUND);
        }
    }
    return selected;
}

int Run(const std::vector<std::string>& args) {
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

    std::optional<tarnsim::Scenario> scenario;
    if (options.sim) {
        scenario = options.scenarioFile.empty() ? tarnsim::Scenario::BuiltIn()
                                                : LoadScenarioFile(options.scenarioFile);
    }
    HostSettings settings;
    if (options.settingsFile) {
        settings = LoadSettingsFile(*options.settingsFile, Catalogue());
    }
    for (auto& item : ParameterValues(options, settings)) {
        item.first->setValue(item.second);
    }
    qen::LoggerPriority::LOGGER_PRIORITY = options.logPriority;

    if (options.listTests || options.listDevices) {
        if (options.listTests) {
            ListTests();
        }
        if (options.listDevices) {
            for (const HostDevice& device :
                 scenario ? SimulatedDevices(*scenario) : EnumeratePlatformDevices()) {
                std::printf("%s\n", DeviceListLine(device).c_str());
            }
        }
        return EXIT_ALL_PASSED;
    }

    // Real hardware: register access goes through the I/O-port guard, which lets through only the UART
    // windows the platform reports (and --allow-io's), and in each run only the port under test's.
    PlatformPorts platform;
    if (scenario) {
        platform.devices = SimulatedDevices(*scenario);
    } else {
        platform = EnumeratePlatformPorts();
        ConfigureIoGuard(tarnos::RealPortIoGuard(), platform.windows, options.allowIo, stderr);
    }
    std::vector<const kivu5::Test*> tests = SelectTests(options.tests);
    std::vector<HostDevice> devices = SelectDevices(platform.devices, options.devices);

    // Outputs last among the checks, so bad input above leaves no files behind.
    CReportOutput report(options.reportFile, "--report");
    CReportOutput junit(options.junitFile, "--junit");
    if (options.logFile && !qen::LogSink::setFile(options.logFile->c_str())) {
        // The reports' destructors remove the files they created.
        throw CHostInputError(*options.logFile, "cannot be opened for writing (--log)");
    }
    report.Start();
    junit.Start();
    // Standard output belongs to a report written there; people then read standard error.
    std::FILE* human =
        options.reportFile == std::string("-") || options.junitFile == std::string("-") ? stderr : stdout;
    CConsole console(human, !options.noProgress && IsTerminal(human));

    std::unique_ptr<tarnsim::CSimulation> simulation;
    if (scenario) {
        simulation.reset(new tarnsim::CSimulation(*scenario));
        simulation->Install(); // otherwise the real backends of the platform answer the seam
    }

    std::string currentTest;
    kivu5::HostHooks hooks;
    hooks.answerPrompt = [&](const kivu5::PromptRequest& request) {
        if (options.answer) {
            return ToMsgBoxReturn(*options.answer);
        }
        if (request.answerSource == kivu5::FROM_SETTINGS_FILE()) {
            if (std::optional<PromptAnswer> preset = settings.AnswerFor(currentTest)) {
                return ToMsgBoxReturn(*preset);
            }
        }
        if (IsTerminal(stdin)) {
            return ToMsgBoxReturn(console.Ask(request, stdin, IsTerminal(human) ? human : stderr));
        }
        return kivu5::MSGBOX_RETURN_OK; // nobody to ask: go on, as a script on a factory line expects
    };
    std::optional<uint32_t> stopAfter = scenario ? scenario->stopAfterChecks : std::nullopt;
    hooks.stopRequested = [stopAfter] {
        // Framework::stopChecks() counts this call too: with N, calls 1..N answer false.
        return StopRequested() || (stopAfter && Framework::stopChecks() > *stopAfter);
    };
    hooks.onEntry = [&console](const kivu5::TimelineEntry& entry) { console.Entry(entry); };
    Framework::setHooks(hooks);
    InstallStopHandler();

    std::vector<RunRecord> runs;
    for (const HostDevice& device : devices) {
        for (const kivu5::Test* test : tests) {
            RunRecord run{test->name(), TestId(test->name()), device.device.name(), kivu5::RunOutcome()};
            if (StopRequested()) {
                // After Ctrl-C nothing new starts; the report still lists the run, as TESTNOTSTARTED.
                console.Line(run.device + " " + run.test + ": TESTNOTSTARTED (stopped by the user)");
                runs.push_back(std::move(run));
                continue;
            }
            currentTest = test->name();
            if (!scenario) {
                NarrowIoGuard(tarnos::RealPortIoGuard(), device.device);
            }
            console.RunStarting(run.device, run.test);
            run.outcome = kivu5::RunTestOnDevice(*test, device.device);
            console.RunFinished(run);
            runs.push_back(std::move(run));
        }
    }
    Framework::setHooks(kivu5::HostHooks());
    if (!scenario) {
        tarnos::RealPortIoGuard().SelectPortUnderTest("", std::nullopt); // no run: no window
    }

    int exitStatus = ExitStatusFor(runs);
    console.Summary(runs, exitStatus);
    if (report.Wanted()) {
        report.Write(JsonReportText(BuildJsonReport(Framework::version(), exitStatus, runs)));
    }
    if (junit.Wanted()) {
        junit.Write(BuildJunitReport(runs));
    }
    return exitStatus;
}

} // namespace
} // namespace tarnhost

namespace kivu5 {

int HostStart() {
    const std::vector<std::string>& commandLine = Framework::commandLine();
    std::vector<std::string> args(commandLine.size() > 1 ? commandLine.begin() + 1 : commandLine.end(),
                                  commandLine.end());
    try {
        return tarnhost::Run(args);
    } catch (const tarnhost::CHostInputError& e) {
        std::fprintf(stderr, "%s\n", e.Line().c_str());
        return e.ExitStatus();
    }
}

} // namespace kivu5
