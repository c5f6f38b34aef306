// The settings file (docs/host.md): parameter values in JSON or --set text, preset prompt answers by
// test with a default, strict keys and types.
#include "host/SettingsLoader.h"
#include "host/HostError.h"

#include "Spawn.h"

#include <gtest/gtest.h>

namespace tarnhost {
namespace {

SettingsCatalogue Catalogue() {
    SettingsCatalogue catalogue;
    catalogue.parameters = {{"PromptUserForLoopBack", kivu5::DataType::Boolean},
                            {"BaudRates", kivu5::DataType::Uint32Array}};
    catalogue.tests = {"ExternalRegisterTest", "ExternalLoopbackTest", "InternalRegisterTest"};
    return catalogue;
}

HostSettings Load(const std::string& json) {
    return ParseSettings(json, "set.json", Catalogue());
}

std::string ErrorLine(const std::string& json) {
    try {
        Load(json);
    } catch (const CHostInputError& e) {
        EXPECT_EQ(e.ExitStatus(), EXIT_BAD_INPUT);
        return e.Line();
    }
    return "";
}

const kivu5::Value* Parameter(const HostSettings& settings, const std::string& name) {
    for (const auto& item : settings.parameters) {
        if (item.first == name) {
            return &item.second;
        }
    }
    return nullptr;
}

TEST(SettingsLoader, EmptyObjectSetsNothing) {
    HostSettings settings = Load("{}");
    EXPECT_TRUE(settings.parameters.empty());
    EXPECT_FALSE(settings.defaultAnswer);
    EXPECT_FALSE(settings.AnswerFor("ExternalLoopbackTest"));
}

TEST(SettingsLoader, ParametersAsJsonValues) {
    HostSettings settings =
        Load(R"({"parameters":{"BaudRates":[9600,115200,9600],"PromptUserForLoopBack":false}})");
    const kivu5::Value* rates = Parameter(settings, "BaudRates");
    ASSERT_NE(rates, nullptr);
    EXPECT_EQ(rates->kind(), kivu5::DataType::Uint32Array);
    EXPECT_EQ(rates->array(), (std::vector<uint32_t>{9600, 115200, 9600}));
    const kivu5::Value* prompt = Parameter(settings, "PromptUserForLoopBack");
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(prompt->kind(), kivu5::DataType::Boolean);
    EXPECT_FALSE(prompt->valueBool());
}

TEST(SettingsLoader, ParametersAsCommandLineText) {
    HostSettings settings =
        Load(R"({"parameters":{"BaudRates":"9600,0x1C200","PromptUserForLoopBack":"true"}})");
    EXPECT_EQ(Parameter(settings, "BaudRates")->array(), (std::vector<uint32_t>{9600, 115200}));
    EXPECT_TRUE(Parameter(settings, "PromptUserForLoopBack")->valueBool());
    EXPECT_TRUE(Load(R"({"parameters":{"BaudRates":[]}})").parameters[0].second.array().empty());
    EXPECT_TRUE(Load(R"({"parameters":{"BaudRates":""}})").parameters[0].second.array().empty());
}

TEST(SettingsLoader, BadParameterValuesAreErrorsNamingTheKey) {
    EXPECT_EQ(ErrorLine(R"({"parameters":{"BaudRates":[9600,-1]}})"),
              "tarnserialport: set.json: parameters.BaudRates[1]: -1 is out of range (from 0 to 4294967295)");
    EXPECT_EQ(ErrorLine(R"({"parameters":{"BaudRates":"9600,x"}})"),
              "tarnserialport: set.json: parameters.BaudRates: \"x\" is not an unsigned 32-bit number "
              "(decimal or 0x "
              "hex)");
    EXPECT_EQ(ErrorLine(R"({"parameters":{"PromptUserForLoopBack":1}})"),
              "tarnserialport: set.json: parameters.PromptUserForLoopBack: expected true or false, got 1");
    EXPECT_EQ(ErrorLine(R"({"parameters":{"BaudRates":9600}})"),
              "tarnserialport: set.json: parameters.BaudRates: expected an array, got 9600");
}

TEST(SettingsLoader, UnknownParameterIsAnError) {
    EXPECT_EQ(
        ErrorLine(R"({"parameters":{"BaudRate":[9600]}})"),
        "tarnserialport: set.json: parameters.BaudRate: unknown parameter (known: PromptUserForLoopBack, "
        "BaudRates)");
}

TEST(SettingsLoader, AnswersByTestWithADefault) {
    HostSettings settings = Load(R"({"answers":{"ExternalRegisterTest":"cancel","default":"ok"}})");
    EXPECT_EQ(settings.AnswerFor("ExternalRegisterTest"), PromptAnswer::Cancel);
    EXPECT_EQ(settings.AnswerFor("ExternalLoopbackTest"), PromptAnswer::Ok);
    HostSettings noDefault = Load(R"({"answers":{"ExternalLoopbackTest":"ok"}})");
    EXPECT_EQ(noDefault.AnswerFor("ExternalLoopbackTest"), PromptAnswer::Ok);
    EXPECT_FALSE(noDefault.AnswerFor("ExternalRegisterTest"));
}

TEST(SettingsLoader, BadAnswersAreErrors) {
    EXPECT_EQ(ErrorLine(R"({"answers":{"default":"yes"}})"),
              "tarnserialport: set.json: answers.default: expected one of \"ok\", \"cancel\", got \"yes\"");
    EXPECT_EQ(ErrorLine(R"({"answers":{"ExternalLoopTest":"ok"}})"),
              "tarnserialport: set.json: answers.ExternalLoopTest: unknown test (known: default, "
              "ExternalRegisterTest, "
              "ExternalLoopbackTest, InternalRegisterTest)");
}

TEST(SettingsLoader, UnknownTopLevelKeyIsAnError) {
    EXPECT_EQ(
        ErrorLine(R"({"parameter":{}})"),
        "tarnserialport: set.json: parameter: unknown key (known here: description, parameters, answers)");
}

TEST(SettingsLoader, TheExampleSettingsFileLoads) {
    HostSettings settings = LoadSettingsFile(tarnhosttest::ExamplePath("settings.json"), Catalogue());
    EXPECT_EQ(Parameter(settings, "BaudRates")->array(), (std::vector<uint32_t>{9600, 19200, 115200}));
    EXPECT_EQ(settings.AnswerFor("ExternalRegisterTest"), PromptAnswer::Cancel);
}

} // namespace
} // namespace tarnhost

namespace tarnhost {
namespace {

TEST(SettingsLoader, ArrayEntriesMayBeHexStrings) {
    EXPECT_EQ(Load(R"({"parameters":{"BaudRates":[300,"0x1C200"]}})").parameters[0].second.array(),
              (std::vector<uint32_t>{300, 115200}));
    EXPECT_EQ(
        ErrorLine(R"({"parameters":{"BaudRates":[300,"0x"]}})"),
        "tarnserialport: set.json: parameters.BaudRates[1]: \"0x\" is not an unsigned 32-bit number (decimal "
        "or 0x hex)");
}

} // namespace
} // namespace tarnhost
