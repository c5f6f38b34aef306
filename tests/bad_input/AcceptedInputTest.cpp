// The other side of the catalogue: inputs at the edges that are not bad. A 100000-entry BaudRates list
// (--set and settings) loads, by a linear algorithm (no timing is asserted: bench/ is for speed); JSON
// nested 64 deep still reads; port numbers 0, 65535 and 70000 in a scenario are device properties the
// spec defines behaviour for (Parts 3.1, 4.1, 4.2), so they run rather than being refused.
#include "ProgramRun.h"

#include "host/HostError.h"
#include "host/JsonStrict.h"
#include "host/ParameterText.h"
#include "host/SettingsLoader.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace badinput {
namespace {

namespace fs = std::filesystem;

const size_t HUGE_LIST = 100000;

std::string RateList(size_t count, const std::string& rate) {
    std::string text;
    text.reserve(count * (rate.size() + 1));
    for (size_t i = 0; i < count; ++i) {
        text += (i == 0 ? "" : ",") + rate;
    }
    return text;
}

tarnhost::SettingsCatalogue Catalogue() {
    tarnhost::SettingsCatalogue catalogue;
    catalogue.parameters = {{"PromptUserForLoopBack", kivu5::DataType::Boolean},
                            {"BaudRates", kivu5::DataType::Uint32Array}};
    catalogue.tests = {"ExternalLoopbackTest"};
    return catalogue;
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
        return "ok";
    } catch (const tarnhost::CHostInputError& e) {
        return e.Line();
    }
}

// A fresh directory for one program run, with these files in it.
fs::path RunDir(const std::string& name, const std::map<std::string, std::string>& files) {
    fs::path dir = fs::path(::testing::TempDir()) / ("tarn-accepted-" + std::to_string(getpid())) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto& file : files) {
        std::ofstream(dir / file.first, std::ios::binary) << file.second;
    }
    return dir;
}

TEST(HugeBaudRateList, OneHundredThousandEntriesOfSetLoad) {
    kivu5::Value value = tarnhost::ParseParameterValue(
        kivu5::DataType::Uint32Array, RateList(HUGE_LIST, "0x1C200") + ",9600", "--set BaudRates");
    ASSERT_EQ(value.Uint32ArraySize(), HUGE_LIST + 1);
    EXPECT_EQ(value.getUint32InArray(0), 115200u);
    EXPECT_EQ(value.getUint32InArray(static_cast<unsigned>(HUGE_LIST)), 9600u);
}

TEST(HugeBaudRateList, OneHundredThousandEntriesOfASettingsFileLoadAsArrayAndAsString) {
    std::string array = "{\"parameters\": {\"BaudRates\": [" + RateList(HUGE_LIST, "9600") + "]}}";
    tarnhost::HostSettings settings = tarnhost::ParseSettings(array, "big.json", Catalogue());
    ASSERT_EQ(settings.parameters.size(), 1u);
    EXPECT_EQ(settings.parameters[0].second.Uint32ArraySize(), HUGE_LIST);
    std::string text = "{\"parameters\": {\"BaudRates\": \"" + RateList(HUGE_LIST, "0x2580") + "\"}}";
    settings = tarnhost::ParseSettings(text, "big.json", Catalogue());
    EXPECT_EQ(settings.parameters[0].second.Uint32ArraySize(), HUGE_LIST);
    EXPECT_EQ(settings.parameters[0].second.getUint32InArray(HUGE_LIST - 1), 9600u);
}

TEST(HugeBaudRateList, AnErrorInAHugeListGivesAShortLineThatSaysWhere) {
    EXPECT_EQ(
        ErrorOf([] { tarnhost::ParseUint32List(RateList(HUGE_LIST, "9600") + ",", "--set BaudRates"); }),
        "tarnserialport: --set BaudRates: empty entry in the list "
        "\"9600,9600,9600,9600,9600,9600,9600,96...\" "
        "(entry 100001)");
}

TEST(HugeBaudRateList, TheProgramValidatesAllOfThemAndRunsTheFirstPass) {
    // Every entry goes through Part 5.5's validation; the first pass fails its Configure, so the run ends
    // at once with FAIL (FailedSetup) instead of 100000 passes.
    fs::path dir = RunDir(
        "huge-list",
        {{"settings.json", "{\"parameters\": {\"BaudRates\": [" + RateList(HUGE_LIST, "19200") + "]}}"},
         {"scenario.json", R"({"ports": [{"com": 1, "io": [1016], "attached": "loopback",
                                           "os": {"failConfigureAt": [19200]}}]})"}});
    Outcome outcome = RunIn(dir, {"--sim", "scenario.json", "--settings", "settings.json", "--test",
                                  "ExternalLoopbackTest", "--no-progress", "--report", "-"});
    RemoveRunDir(dir);
    EXPECT_EQ(outcome.exitStatus, 1) << outcome.err;
    nlohmann::json report = nlohmann::json::parse(outcome.out);
    ASSERT_EQ(report["runs"].size(), 1u);
    EXPECT_EQ(report["runs"][0]["result"], "FAIL");
    std::vector<std::string> events;
    for (const nlohmann::json& entry : report["runs"][0]["timeline"]) {
        if (entry["kind"] == "event") {
            events.push_back(entry["name"].get<std::string>());
        }
    }
    EXPECT_EQ(events, std::vector<std::string>{"FailedSetup"});
}

TEST(HugeBaudRateList, TheLargestSetALinuxCommandLineTakesLoads) {
    // One argument may hold at most 128 KiB on Linux (MAX_ARG_STRLEN): 26000 entries of "9600," fit; the
    // 100000 entries of --set are tested in-process above.
    fs::path dir = RunDir("largest-set", {});
    Outcome outcome = RunIn(dir, {"--sim", "--set", "BaudRates=" + RateList(26000, "9600"), "--list-tests"});
    RemoveRunDir(dir);
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
}

TEST(JsonDepth, SixtyFourLevelsReadAndSixtyFiveAreBadInput) {
    std::string deep64 = std::string(64, '[') + std::string(64, ']');
    EXPECT_NO_THROW(tarnhost::ParseStrictJson(deep64, "deep.json"));
    std::string deep65 = std::string(65, '[') + std::string(65, ']');
    EXPECT_EQ(ErrorOf([&] { tarnhost::ParseStrictJson(deep65, "deep.json"); }),
              "tarnserialport: deep.json: arrays and objects nested more than 64 levels deep");
}

TEST(JsonDepth, OneHundredThousandLevelsNeitherCrashNorHang) {
    for (const std::string& text :
         {std::string(100000, '['), std::string(100000, '[') + std::string(100000, ']'),
          "{\"ports\":" + std::string(100000, '[')}) {
        EXPECT_EQ(ErrorOf([&] { tarnhost::ParseStrictJson(text, "deep.json"); }),
                  "tarnserialport: deep.json: arrays and objects nested more than 64 levels deep");
    }
}

TEST(JsonNumbers, ANumberBeyondADoubleIsBadInputNotACrash) {
    EXPECT_EQ(ErrorOf([] { tarnhost::ParseStrictJson("[1e400]", "n.json"); }),
              "tarnserialport: n.json: number overflow parsing '1e400'");
    EXPECT_EQ(ErrorOf([] { tarnhost::ParseStrictJson("[-1e400]", "n.json"); }),
              "tarnserialport: n.json: number overflow parsing '-1e400'");
}

TEST(JsonBytes, ANulByteOrARawHighByteGivesAnAsciiLine) {
    EXPECT_EQ(
        ErrorOf([] { tarnhost::ParseStrictJson(std::string("{\"a\":\0}", 7), "b.json"); }),
        "tarnserialport: b.json: not valid JSON: a NUL byte at offset 5 (a binary file, or UTF-16 text? JSON "
        "files are UTF-8)");
    EXPECT_EQ(ErrorOf([] { tarnhost::ParseStrictJson("\x89PNG", "b.json"); }),
              "tarnserialport: b.json: not valid JSON: line 1, column 1: syntax error while parsing value - "
              "invalid "
              "literal; last read: '\\x89'");
}

// Port numbers at the edges, as device properties of a scenario: accepted, and the module does what the
// spec says with them (formats.md gives "com" as an integer, the device property ComPortNumber, 32 bits).
struct EdgeCase {
    uint32_t com;
    const char* moduleName;     // the port's name in the module: the low 16 bits (Part 3.1)
    const char* externalResult; // ExternalRegisterTest
    const char* internalResult; // InternalRegisterTest
};

class PortNumberEdge : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(PortNumberEdge, RunsAsTheSpecSays) {
    const EdgeCase& edge = GetParam();
    fs::path dir = RunDir("com" + std::to_string(edge.com),
                          {{"scenario.json", "{\"ports\": [{\"com\": " + std::to_string(edge.com) +
                                                 ", \"io\": [1016], \"attached\": \"loopback\"}]}"}});
    Outcome outcome = RunIn(dir, {"--sim", "scenario.json", "--test", "ExternalRegisterTest", "--test",
                                  "InternalRegisterTest", "--no-progress", "--report", "-"});
    RemoveRunDir(dir);
    EXPECT_EQ(outcome.exitStatus, 3) << outcome.err;
    nlohmann::json report = nlohmann::json::parse(outcome.out);
    ASSERT_EQ(report["runs"].size(), 2u);
    EXPECT_EQ(report["runs"][0]["device"], "COM" + std::to_string(edge.com));
    EXPECT_EQ(report["runs"][0]["result"], edge.externalResult);
    EXPECT_EQ(report["runs"][1]["result"], edge.internalResult);
    EXPECT_NE(outcome.err.find(std::string("Checking ") + edge.moduleName), std::string::npos) << outcome.err;
}

// 0: \\.\COM0 does not exist (error 2): the external screen is silent, NOTSUPPORTED; the internal test's
// own Open fails, CANNOTRUN. 65535: INVALID_PORT_NUMBER, Open's assertion, EXITEDABNORMALLY. 70000: the
// module uses its low 16 bits, COM4464, which does not exist either.
std::string EdgeName(const ::testing::TestParamInfo<EdgeCase>& param) {
    return "Com" + std::to_string(param.param.com);
}

INSTANTIATE_TEST_SUITE_P(Scenario, PortNumberEdge,
                         ::testing::Values(EdgeCase{0, "COM0", "NOTSUPPORTED", "CANNOTRUN"},
                                           EdgeCase{65535, "COM65535", "EXITEDABNORMALLY",
                                                    "EXITEDABNORMALLY"},
                                           EdgeCase{70000, "COM4464", "NOTSUPPORTED", "CANNOTRUN"}),
                         EdgeName);

} // namespace
} // namespace badinput
