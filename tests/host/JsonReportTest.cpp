// The JSON report of formats.md section 3: its fields, their order and types, and the value type of
// every variable (text, int, uint).
#include "host/JsonReport.h"

#include "ReportFixtures.h"

#include <gtest/gtest.h>

namespace tarnhost {
namespace {

using nlohmann::json;
using tarnhosttest::FailingLoopbackRun;

std::vector<std::string> Keys(const nlohmann::ordered_json& object) {
    std::vector<std::string> keys;
    for (auto it = object.begin(); it != object.end(); ++it) {
        keys.push_back(it.key());
    }
    return keys;
}

TEST(JsonReport, TopLevelFieldsInOrder) {
    nlohmann::ordered_json report = BuildJsonReport("5.0.000000001", 1, {FailingLoopbackRun()});
    EXPECT_EQ(Keys(report), (std::vector<std::string>{"module", "version", "exitCode", "runs"}));
    EXPECT_EQ(report["module"], "tarnserialport");
    EXPECT_EQ(report["version"], "5.0.000000001");
    EXPECT_EQ(report["exitCode"], 1);
    EXPECT_TRUE(report["exitCode"].is_number_integer());
    ASSERT_EQ(report["runs"].size(), 1u);
}

TEST(JsonReport, RunFields) {
    nlohmann::ordered_json run = BuildJsonReport("v", 1, {FailingLoopbackRun()})["runs"][0];
    EXPECT_EQ(Keys(run),
              (std::vector<std::string>{"test", "id", "device", "result", "exception", "timeline"}));
    EXPECT_EQ(run["test"], "ExternalLoopbackTest");
    EXPECT_EQ(run["id"], 4);
    EXPECT_EQ(run["device"], "COM1");
    EXPECT_EQ(run["result"], "FAIL");
    EXPECT_TRUE(run["exception"].is_null());
    EXPECT_EQ(run["timeline"].size(), 9u);
}

TEST(JsonReport, ExceptionCarriesItsMessage) {
    nlohmann::ordered_json run = BuildJsonReport("v", 3, {tarnhosttest::ExceptionRun()})["runs"][0];
    EXPECT_EQ(run["result"], "EXITEDABNORMALLY");
    EXPECT_EQ(run["exception"], "TARN Driver not installed!");
}

TEST(JsonReport, EventWithTextUintAndIntVariables) {
    nlohmann::ordered_json event = BuildJsonReport("v", 1, {FailingLoopbackRun()})["runs"][0]["timeline"][4];
    EXPECT_EQ(Keys(event), (std::vector<std::string>{"kind", "name", "severity", "vars", "file", "line"}));
    EXPECT_EQ(event["kind"], "event");
    EXPECT_EQ(event["name"], "IncorrectCharCount");
    EXPECT_EQ(event["severity"], "error");
    EXPECT_EQ(event["file"], "SerialPortTest");
    EXPECT_EQ(event["line"], 1234);
    json expected = json::parse(R"([{"name":"PortNumber","type":"text","value":"COM1"},
                                    {"name":"DataRead","type":"uint","value":255},
                                    {"name":"DataWritten","type":"int","value":256}])");
    EXPECT_EQ(json(event["vars"]), expected);
    EXPECT_TRUE(event["vars"][0]["value"].is_string());
    EXPECT_TRUE(event["vars"][1]["value"].is_number_unsigned());
    EXPECT_TRUE(event["vars"][2]["value"].is_number_integer());
    EXPECT_EQ(Keys(event["vars"][0]), (std::vector<std::string>{"name", "type", "value"}));
}

TEST(JsonReport, NegativeIntStaysSigned) {
    nlohmann::ordered_json event = BuildJsonReport("v", 1, {FailingLoopbackRun()})["runs"][0]["timeline"][6];
    EXPECT_EQ(event["vars"][0]["type"], "int");
    EXPECT_EQ(event["vars"][0]["value"], -1);
}

TEST(JsonReport, WarningSeverity) {
    EXPECT_EQ(BuildJsonReport("v", 1, {FailingLoopbackRun()})["runs"][0]["timeline"][5]["severity"],
              "warning");
}

TEST(JsonReport, ProgressPercentPromptLogAndTraceEntries) {
    nlohmann::ordered_json timeline = BuildJsonReport("v", 1, {FailingLoopbackRun()})["runs"][0]["timeline"];
    EXPECT_EQ(json(timeline[1]), json::parse(R"({"kind":"progress","name":"ValidityCheck",
                                                 "vars":[{"name":"PortNumber","type":"text","value":"COM1"}]})"));
    EXPECT_EQ(json(timeline[2]), json::parse(R"({"kind":"percent","value":0})"));
    EXPECT_EQ(json(timeline[3]), json::parse(R"({"kind":"prompt","type":10,"text":"Connect the adapter",
        "caption":"Serial Port External Loopback Test","option":40,"lookAndFeel":80,"answer":150})"));
    EXPECT_EQ(Keys(timeline[3]), (std::vector<std::string>{"kind", "type", "text", "caption", "option",
                                                           "lookAndFeel", "answer"}));
    EXPECT_EQ(json(timeline[7]), json::parse(R"({"kind":"log","priority":4,
                                                 "text":"1234 Port: COM1 Incorrect char count"})"));
    EXPECT_EQ(timeline[0]["kind"], "trace");
    EXPECT_EQ(timeline[0]["function"], "RunTest");
    EXPECT_EQ(timeline[0]["entry"], true);
    EXPECT_EQ(timeline[8]["entry"], false);
}

TEST(JsonReport, TextIsValidJsonEqualToTheReport) {
    std::vector<RunRecord> runs{FailingLoopbackRun(), tarnhosttest::ExceptionRun()};
    nlohmann::ordered_json report = BuildJsonReport("5.0.000000001", 3, runs);
    std::string text = JsonReportText(report);
    EXPECT_EQ(json::parse(text), json(report));
    EXPECT_EQ(text.back(), '\n');
}

TEST(JsonReport, NoRunsIsAnEmptyArray) {
    std::string text = JsonReportText(BuildJsonReport("v", 0, {}));
    EXPECT_EQ(json::parse(text)["runs"], json::array());
}

TEST(JsonReport, InvalidUtf8IsReplacedNotRefused) {
    RunRecord run = FailingLoopbackRun();
    run.outcome.timeline[7].text = "bad \xff byte";
    std::string text;
    ASSERT_NO_THROW(text = JsonReportText(BuildJsonReport("v", 1, {run})));
    EXPECT_NO_THROW(json::parse(text));
}

} // namespace
} // namespace tarnhost
