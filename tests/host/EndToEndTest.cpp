// End to end: the built program run with --sim (never against this machine's ports), checked through
// its exit status, its JSON report on standard output and its messages.
#include "Spawn.h"
#include "XmlCheck.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <map>

namespace tarnhosttest {
namespace {

using nlohmann::json;

const std::vector<std::string> ALL_TESTS{"ExternalRegisterTest", "ExternalLoopbackTest",
                                         "InternalRegisterTest", "InternalControlSignalsTest",
                                         "InternalSendAndReceiveTest"};

// Runs with --report - and returns the parsed report (null when standard output is not JSON).
json Report(const std::vector<std::string>& args, ProgramResult* result = nullptr) {
    std::vector<std::string> all = args;
    all.insert(all.end(), {"--report", "-"});
    ProgramResult run = RunProgram(all);
    if (result) {
        *result = run;
    }
    json report = json::parse(run.out, nullptr, false);
    EXPECT_FALSE(report.is_discarded()) << "stdout:\n" << run.out << "\nstderr:\n" << run.err;
    return report.is_discarded() ? json() : report;
}

// "TestName RESULT" per run, in order.
std::vector<std::string> Results(const json& report) {
    std::vector<std::string> results;
    if (report.is_object()) {
        for (const json& run : report["runs"]) {
            results.push_back(run["device"].get<std::string>() + " " + run["test"].get<std::string>() + " " +
                              run["result"].get<std::string>());
        }
    }
    return results;
}

std::vector<std::string> Expected(const std::string& device, const std::vector<std::string>& results) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < ALL_TESTS.size(); ++i) {
        lines.push_back(device + " " + ALL_TESTS[i] + " " + results[i]);
    }
    return lines;
}

// The names of the events of one run, in order.
std::vector<std::string> Events(const json& run, const std::string& severity = "") {
    std::vector<std::string> names;
    for (const json& entry : run["timeline"]) {
        if (entry["kind"] == "event" && (severity.empty() || entry["severity"] == severity)) {
            names.push_back(entry["name"]);
        }
    }
    return names;
}

const json& RunOf(const json& report, const std::string& test) {
    for (const json& run : report["runs"]) {
        if (run["test"] == test) {
            return run;
        }
    }
    static const json none;
    ADD_FAILURE() << "no run of " << test;
    return none;
}

TEST(EndToEnd, BuiltInScenarioPassesAllFiveTestsWithExitZero) {
    ProgramResult result;
    json report = Report({"--sim"}, &result);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(report["exitCode"], 0);
    EXPECT_EQ(report["module"], "tarnserialport");
    EXPECT_EQ(report["version"], "5.0.000000001");
    EXPECT_EQ(Results(report), Expected("COM1", {"PASS", "PASS", "PASS", "PASS", "PASS"}));
    std::map<std::string, int> ids;
    for (const json& run : report["runs"]) {
        ids[run["test"]] = run["id"];
        EXPECT_TRUE(run["exception"].is_null());
    }
    EXPECT_EQ(ids, (std::map<std::string, int>{{"InternalControlSignalsTest", 1},
                                               {"InternalRegisterTest", 2},
                                               {"InternalSendAndReceiveTest", 3},
                                               {"ExternalLoopbackTest", 4},
                                               {"ExternalRegisterTest", 5}}));
}

TEST(EndToEnd, VersionPrintsTheModulesVersion) {
    ProgramResult result = RunProgram({"--sim", "--version"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "tarnserialport 5.0.000000001\n");
}

TEST(EndToEnd, HelpExitsZero) {
    ProgramResult result = RunProgram({"--sim", "--help"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out.rfind("Usage: tarnserialport [OPTIONS]", 0), 0u);
}

TEST(EndToEnd, ListTestsShowsIdsRequirementsAndParameters) {
    ProgramResult result = RunProgram({"--sim", "--list-tests"});
    EXPECT_EQ(result.exitStatus, 0);
    const std::string needs = "requires: ComPortNumber, IoBaseAddresses";
    EXPECT_NE(result.out.find("ExternalRegisterTest         ID 5  " + needs +
                              "  parameters: PromptUserForLoopBack\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("ExternalLoopbackTest         ID 4  " + needs +
                              "  parameters: BaudRates, PromptUserForLoopBack\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("InternalRegisterTest         ID 2  " + needs + "  parameters: none\n"),
              std::string::npos);
    EXPECT_NE(result.out.find("InternalControlSignalsTest   ID 1  " + needs + "  parameters: none\n"),
              std::string::npos);
    EXPECT_NE(result.out.find("InternalSendAndReceiveTest   ID 3  " + needs + "  parameters: none\n"),
              std::string::npos);
}

TEST(EndToEnd, ListDevicesOfAScenario) {
    ProgramResult result = RunProgram({"--sim", ExamplePath("two-ports.json"), "--list-devices"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "COM1  ComPortNumber=1  IoBaseAddresses=[0x3F8]  simulated (UART 16550A)\n"
                          "COM5  ComPortNumber=5  IoBaseAddresses=(none)  simulated (UART 16550A)\n");
}

TEST(EndToEnd, AnswerCancelAbortsTheExternalTestsWithExitThree) {
    ProgramResult result;
    json report = Report({"--sim", "--answer", "cancel"}, &result);
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(report["exitCode"], 3);
    EXPECT_EQ(Results(report), Expected("COM1", {"USERABORTED", "USERABORTED", "PASS", "PASS", "PASS"}));
    for (const char* test : {"ExternalRegisterTest", "ExternalLoopbackTest"}) {
        bool prompted = false;
        for (const json& entry : RunOf(report, test)["timeline"]) {
            if (entry["kind"] == "prompt") {
                prompted = true;
                EXPECT_EQ(entry["answer"], 150);
                EXPECT_EQ(entry["type"], 10);
                EXPECT_EQ(entry["option"], 40);
                EXPECT_EQ(entry["lookAndFeel"], 80);
            }
        }
        EXPECT_TRUE(prompted) << test;
    }
}

TEST(EndToEnd, UnknownDeviceExitsFourWithNothingRun) {
    ProgramResult result = RunProgram({"--sim", "--device", "COM9", "--report", "-"});
    EXPECT_EQ(result.exitStatus, 4);
    EXPECT_EQ(result.err, "tarnserialport: --device COM9: no such device (found: COM1)\n");
    EXPECT_EQ(result.out, "");
}

TEST(EndToEnd, UnknownTestExitsFour) {
    ProgramResult result = RunProgram({"--sim", "--test", "ExternalLoopTest"});
    EXPECT_EQ(result.exitStatus, 4);
    EXPECT_EQ(result.err.rfind("tarnserialport: --test ExternalLoopTest: no such test (tests: ", 0), 0u)
        << result.err;
}

TEST(EndToEnd, BadSetExitsTwoWithOneLine) {
    ProgramResult result = RunProgram({"--sim", "--set", "BaudRates=9600,-5"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(
        result.err,
        "tarnserialport: --set BaudRates: \"-5\" is not an unsigned 32-bit number (decimal or 0x hex)\n");
    EXPECT_EQ(result.out, "");
}

TEST(EndToEnd, UnknownParameterExitsTwo) {
    ProgramResult result = RunProgram({"--sim", "--set", "BaudRate=9600"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.err, "tarnserialport: --set BaudRate: unknown parameter (known: PromptUserForLoopBack, "
                          "BaudRates)\n");
}

TEST(EndToEnd, BadScenarioKeyExitsTwoNamingTheKey) {
    std::string path = TempPath("typo.json");
    WriteFile(path, R"({"ports":[{"com":1,"uart":{"modle":"absent"}}]})");
    ProgramResult result = RunProgram({"--sim", path});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.err.rfind("tarnserialport: " + path + ": ports[0].uart.modle: unknown key", 0), 0u)
        << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
}

TEST(EndToEnd, MissingScenarioFileExitsTwo) {
    ProgramResult result = RunProgram({"--sim", "/nonexistent/scenario.json"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.err, "tarnserialport: /nonexistent/scenario.json: cannot be read (--sim)\n");
}

TEST(EndToEnd, BadSettingsFileExitsTwo) {
    std::string path = TempPath("bad-settings.json");
    WriteFile(path, R"({"parameters":{"PromptUserForLoopBack":"maybe"}})");
    ProgramResult result = RunProgram({"--sim", "--settings", path});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.err, "tarnserialport: " + path +
                              ": parameters.PromptUserForLoopBack: \"maybe\" is not true or false\n");
}

TEST(EndToEnd, ReportOnStandardOutputSendsHumanOutputToStandardError) {
    ProgramResult result;
    Report({"--sim", "--test", "InternalRegisterTest"}, &result);
    EXPECT_NE(result.err.find("COM1 InternalRegisterTest: PASS"), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("COM1 InternalRegisterTest: PASS"), std::string::npos);
}

TEST(EndToEnd, WithoutATerminalProgressIsPlainLines) {
    ProgramResult result = RunProgram({"--sim", "--test", "InternalSendAndReceiveTest"});
    EXPECT_NE(result.out.find("COM1 InternalSendAndReceiveTest: [  2%] Send and receive at 1200 bit/s\n"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.find('\r'), std::string::npos);
    EXPECT_NE(result.out.find("InternalSendAndReceiveTest  PASS"), std::string::npos); // the summary table
}

TEST(EndToEnd, TestsAndDevicesRunInTheOrderGiven) {
    json report = Report({"--sim", ExamplePath("two-ports.json"), "--device", "COM5", "--device", "COM1",
                          "--test", "InternalRegisterTest", "--test", "ExternalRegisterTest"});
    EXPECT_EQ(Results(report), (std::vector<std::string>{
                                   "COM5 InternalRegisterTest NOTSUPPORTED", "COM5 ExternalRegisterTest PASS",
                                   "COM1 InternalRegisterTest PASS", "COM1 ExternalRegisterTest PASS"}));
}

TEST(EndToEnd, SetBaudRatesChoosesTheRatesInOrder) {
    json report = Report({"--sim", "--test", "ExternalLoopbackTest", "--set", "BaudRates=0x1C200,9600"});
    const json& run = RunOf(report, "ExternalLoopbackTest");
    EXPECT_EQ(run["result"], "PASS");
    std::vector<json> rates;
    for (const json& entry : run["timeline"]) {
        if (entry["kind"] == "progress" && entry["name"] == "LoopbackProgress") {
            rates.push_back(entry["vars"][0]["value"]);
        }
    }
    EXPECT_EQ(rates, (std::vector<json>{115200, 9600, 9600})); // each pass, then the last rate again
    EXPECT_TRUE(Events(run, "error").empty());
}

TEST(EndToEnd, EmptyBaudRatesUseTheModulesDefaultList) {
    json report = Report({"--sim", "--test", "ExternalLoopbackTest", "--set", "BaudRates="});
    const json& run = RunOf(report, "ExternalLoopbackTest");
    EXPECT_EQ(run["result"], "PASS");
    // 110, 600 and 256000 of the default list are not in Part 4.2's table.
    EXPECT_EQ(Events(run, "error"),
              (std::vector<std::string>{"InvalidBaudRateConfig", "InvalidBaudRateConfig",
                                        "InvalidBaudRateConfig"}));
}

TEST(EndToEnd, SetOverridesTheSettingsFile) {
    std::string path = TempPath("rates.json");
    WriteFile(path, R"({"parameters":{"BaudRates":[9600, 19200]}})");
    json report =
        Report({"--sim", "--test", "ExternalLoopbackTest", "--settings", path, "--set", "BaudRates=300"});
    int passes = 0;
    for (const json& entry : RunOf(report, "ExternalLoopbackTest")["timeline"]) {
        if (entry["kind"] == "progress" && entry["name"] == "LoopbackProgress") {
            EXPECT_EQ(entry["vars"][0]["value"], 300);
            ++passes;
        }
    }
    EXPECT_EQ(passes, 2);
}

TEST(EndToEnd, PromptFalseShowsNoPrompt) {
    json report = Report({"--sim", "--test", "ExternalRegisterTest", "--set", "PromptUserForLoopBack=false"});
    for (const json& entry : RunOf(report, "ExternalRegisterTest")["timeline"]) {
        EXPECT_NE(entry["kind"], "prompt");
    }
}

TEST(EndToEnd, SettingsFilePresetAnswersByTest) {
    std::string path = TempPath("answers.json");
    WriteFile(path, R"({"answers":{"ExternalRegisterTest":"cancel"}})");
    ProgramResult result;
    json report = Report({"--sim", "--settings", path, "--test", "ExternalRegisterTest", "--test",
                          "ExternalLoopbackTest", "--set", "BaudRates=9600"},
                         &result);
    EXPECT_EQ(Results(report), (std::vector<std::string>{"COM1 ExternalRegisterTest USERABORTED",
                                                         "COM1 ExternalLoopbackTest PASS"}));
    EXPECT_EQ(result.exitStatus, 3);
}

TEST(EndToEnd, AnswerOverridesTheSettingsFile) {
    std::string path = TempPath("answers-cancel.json");
    WriteFile(path, R"({"answers":{"default":"cancel"}})");
    json report = Report({"--sim", "--settings", path, "--answer", "ok", "--test", "ExternalRegisterTest"});
    EXPECT_EQ(Results(report), std::vector<std::string>{"COM1 ExternalRegisterTest PASS"});
}

TEST(EndToEnd, LogPriorityChoosesTheLogEntries) {
    json report = Report({"--sim", ExamplePath("no-plug.json"), "--test", "ExternalRegisterTest",
                          "--log-priority", "1", "--log", TempPath("p1.log")});
    std::set<int> priorities;
    bool traced = false;
    for (const json& entry : RunOf(report, "ExternalRegisterTest")["timeline"]) {
        if (entry["kind"] == "log") {
            priorities.insert(entry["priority"].get<int>());
        }
        traced = traced || entry["kind"] == "trace";
    }
    EXPECT_TRUE(priorities.count(1)) << "priority 1 lets detail through";
    EXPECT_TRUE(traced) << "and tracing (Part 1.2, rule 1)";

    json quiet = Report({"--sim", ExamplePath("no-plug.json"), "--test", "ExternalRegisterTest",
                         "--log-priority", "4", "--log", TempPath("p4.log")});
    for (const json& entry : RunOf(quiet, "ExternalRegisterTest")["timeline"]) {
        if (entry["kind"] == "log") {
            EXPECT_EQ(entry["priority"], 4) << entry.dump();
        }
        EXPECT_NE(entry["kind"], "trace");
    }
}

TEST(EndToEnd, LogFileReceivesTheLoggersLines) {
    std::string path = TempPath("run.log");
    ProgramResult result =
        RunProgram({"--sim", ExamplePath("no-plug.json"), "--test", "ExternalRegisterTest", "--log", path});
    std::string log = ReadFile(path);
    EXPECT_NE(log.find("tarnserialport P4"), std::string::npos) << log;
    EXPECT_NE(log.find("Port: COM1 DTR stuck low"), std::string::npos) << log;
    EXPECT_EQ(result.err.find("DTR stuck low"), std::string::npos); // not on standard error any more
}

TEST(EndToEnd, JunitFileIsWellFormed) {
    std::string path = TempPath("junit.xml");
    ProgramResult result = RunProgram({"--sim", ExamplePath("no-plug.json"), "--junit", path});
    EXPECT_EQ(result.exitStatus, 1);
    XmlElement root;
    std::string error;
    ASSERT_TRUE(ParseXml(ReadFile(path), root, error)) << error;
    EXPECT_EQ(root.attributes["tests"], "5");
    EXPECT_EQ(root.attributes["failures"], "2");
    ASSERT_EQ(root.children.size(), 1u);
    EXPECT_EQ(root.children[0].attributes["name"], "COM1");
}

TEST(EndToEnd, UnwritableReportIsBadInputWithNothingRun) {
    ProgramResult result = RunProgram({"--sim", "--report", "/nonexistent/dir/report.json"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.err,
              "tarnserialport: /nonexistent/dir/report.json: cannot be opened for writing (--report)\n");
    EXPECT_EQ(result.out, "");
}

// The example scenarios, each with the results its description promises (docs/host.md).
struct ExampleCase {
    const char* file;
    const char* device;
    std::vector<std::string> results; // in ALL_TESTS order
    int exitStatus;
};

void PrintTo(const ExampleCase& example, std::ostream* out) {
    *out << example.file;
}

class ExampleScenario : public ::testing::TestWithParam<ExampleCase> {};

TEST_P(ExampleScenario, GivesItsDocumentedResults) {
    const ExampleCase& example = GetParam();
    ProgramResult result;
    json report = Report({"--sim", ExamplePath(example.file)}, &result);
    EXPECT_EQ(Results(report), Expected(example.device, example.results)) << example.file;
    EXPECT_EQ(result.exitStatus, example.exitStatus) << example.file << "\n" << result.err;
    EXPECT_EQ(report["exitCode"], example.exitStatus);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ExampleScenario,
    ::testing::Values(ExampleCase{"healthy.json", "COM1", {"PASS", "PASS", "PASS", "PASS", "PASS"}, 0},
                      ExampleCase{"dead-uart.json", "COM2", {"PASS", "PASS", "FAIL", "FAIL", "FAIL"}, 1},
                      ExampleCase{"infrared-uart.json",
                                  "COM1",
                                  {"PASS", "PASS", "NOTSUPPORTED", "NOTSUPPORTED", "NOTSUPPORTED"},
                                  0},
                      ExampleCase{
                          "modem.json", "COM3", {"CANNOTRUN", "CANNOTRUN", "PASS", "PASS", "PASS"}, 3},
                      ExampleCase{"no-plug.json", "COM1", {"FAIL", "FAIL", "PASS", "PASS", "PASS"}, 1},
                      ExampleCase{"flaky-plug.json", "COM1", {"PASS", "FAIL", "PASS", "PASS", "PASS"}, 1},
                      ExampleCase{"access-denied.json",
                                  "COM1",
                                  {"NOTSUPPORTED", "NOTSUPPORTED", "CANNOTRUN", "CANNOTRUN", "CANNOTRUN"},
                                  3},
                      ExampleCase{"no-driver.json",
                                  "COM1",
                                  {"EXITEDABNORMALLY", "EXITEDABNORMALLY", "EXITEDABNORMALLY",
                                   "EXITEDABNORMALLY", "EXITEDABNORMALLY"},
                                  3},
                      ExampleCase{"user-stop.json",
                                  "COM1",
                                  {"USERABORTED", "USERABORTED", "USERABORTED", "USERABORTED", "USERABORTED"},
                                  3}),
    [](const ::testing::TestParamInfo<ExampleCase>& param) {
        std::string name = param.param.file;
        name = name.substr(0, name.find('.'));
        name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
        return name;
    });

TEST(EndToEnd, DeadUartFindingsAreTheRegisterTestsOwn) {
    json report = Report({"--sim", ExamplePath("dead-uart.json"), "--test", "InternalRegisterTest"});
    EXPECT_EQ(Events(RunOf(report, "InternalRegisterTest")), std::vector<std::string>{"FailedRegTest"});
}

TEST(EndToEnd, InfraredUartIsNotTestableForInternalTests) {
    json report = Report({"--sim", ExamplePath("infrared-uart.json"), "--test", "InternalRegisterTest"});
    EXPECT_EQ(Events(RunOf(report, "InternalRegisterTest")), std::vector<std::string>{"NotTestable"});
}

TEST(EndToEnd, NoPlugFailsTheRegisterTestOnDsrAndCts) {
    json report = Report({"--sim", ExamplePath("no-plug.json"), "--test", "ExternalRegisterTest"});
    EXPECT_EQ(Events(RunOf(report, "ExternalRegisterTest")),
              (std::vector<std::string>{"DTR_StuckLow", "CTS_STuckLow"}));
}

TEST(EndToEnd, FlakyPlugLosesOneByteAsAnUnsignedCount) {
    json report = Report({"--sim", ExamplePath("flaky-plug.json"), "--test", "ExternalLoopbackTest", "--set",
                          "BaudRates=9600"});
    const json& run = RunOf(report, "ExternalLoopbackTest");
    EXPECT_EQ(Events(run), std::vector<std::string>{"IncorrectCharCount"});
    for (const json& entry : run["timeline"]) {
        if (entry["kind"] == "event") {
            EXPECT_EQ(entry["vars"], json::parse(R"([{"name":"PortNumber","type":"text","value":"COM1"},
                                                     {"name":"DataRead","type":"uint","value":255},
                                                     {"name":"DataWritten","type":"int","value":256}])"));
            EXPECT_EQ(entry["file"], "SerialPortTest");
        }
    }
}

TEST(EndToEnd, AccessDeniedRaisesBothWarnings) {
    json report = Report({"--sim", ExamplePath("access-denied.json"), "--test", "InternalRegisterTest"});
    EXPECT_EQ(Events(RunOf(report, "InternalRegisterTest"), "warning"),
              (std::vector<std::string>{"UnableToOpenPort", "AccessDeniedFailure"}));
}

TEST(EndToEnd, MissingDriverReportsTheException) {
    json report = Report({"--sim", ExamplePath("no-driver.json"), "--test", "InternalRegisterTest"});
    EXPECT_EQ(RunOf(report, "InternalRegisterTest")["exception"], "TARN Driver not installed!");
}

} // namespace
} // namespace tarnhosttest
