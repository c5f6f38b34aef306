// The command line of formats.md section 1: every option, the --set forms, and the exact one-line
// error of each kind of bad input.
#include "host/CommandLine.h"
#include "host/HostError.h"

#include <gtest/gtest.h>

namespace tarnhost {
namespace {

// The line HostStart prints for bad input, or "" when the arguments parse.
std::string ErrorLine(const std::vector<std::string>& args) {
    try {
        ParseCommandLine(args);
    } catch (const CHostInputError& e) {
        EXPECT_EQ(e.ExitStatus(), EXIT_BAD_INPUT);
        return e.Line();
    }
    return "";
}

TEST(CommandLine, NoArgumentsGiveTheDefaults) {
    HostOptions options = ParseCommandLine({});
    EXPECT_FALSE(options.help);
    EXPECT_FALSE(options.version);
    EXPECT_FALSE(options.listTests);
    EXPECT_FALSE(options.listDevices);
    EXPECT_TRUE(options.tests.empty());
    EXPECT_TRUE(options.devices.empty());
    EXPECT_TRUE(options.sets.empty());
    EXPECT_FALSE(options.settingsFile);
    EXPECT_FALSE(options.answer);
    EXPECT_FALSE(options.sim);
    EXPECT_FALSE(options.reportFile);
    EXPECT_FALSE(options.junitFile);
    EXPECT_FALSE(options.logFile);
    EXPECT_EQ(options.logPriority, 3);
    EXPECT_FALSE(options.noProgress);
}

TEST(CommandLine, HelpShortAndLong) {
    EXPECT_TRUE(ParseCommandLine({"-h"}).help);
    EXPECT_TRUE(ParseCommandLine({"--help"}).help);
}

TEST(CommandLine, EachFlagSetsItsOption) {
    EXPECT_TRUE(ParseCommandLine({"--version"}).version);
    EXPECT_TRUE(ParseCommandLine({"--list-tests"}).listTests);
    EXPECT_TRUE(ParseCommandLine({"--list-devices"}).listDevices);
    EXPECT_TRUE(ParseCommandLine({"--no-progress"}).noProgress);
}

TEST(CommandLine, TestAndDeviceAreRepeatableInTheOrderGiven) {
    HostOptions options =
        ParseCommandLine({"--test", "InternalRegisterTest", "--device", "COM3", "--test",
                          "ExternalLoopbackTest", "--device", "COM1", "--test", "InternalRegisterTest"});
    EXPECT_EQ(options.tests, (std::vector<std::string>{"InternalRegisterTest", "ExternalLoopbackTest",
                                                       "InternalRegisterTest"}));
    EXPECT_EQ(options.devices, (std::vector<std::string>{"COM3", "COM1"}));
}

TEST(CommandLine, SetFormsKeepTheirOrderAndTheTextAfterTheFirstEquals) {
    HostOptions options =
        ParseCommandLine({"--set", "BaudRates=9600,0x1C200", "--set=PromptUserForLoopBack=false", "--set",
                          "BaudRates=", "--set", "X=a=b"});
    using Set = std::pair<std::string, std::string>;
    EXPECT_EQ(options.sets, (std::vector<Set>{{"BaudRates", "9600,0x1C200"},
                                              {"PromptUserForLoopBack", "false"},
                                              {"BaudRates", ""},
                                              {"X", "a=b"}}));
}

TEST(CommandLine, SetWithoutParameterNameIsBadInput) {
    EXPECT_EQ(ErrorLine({"--set", "BaudRates"}), "tarnserialport: --set BaudRates: expected PARAM=VALUE");
    EXPECT_EQ(ErrorLine({"--set", "=9600"}), "tarnserialport: --set =9600: expected PARAM=VALUE");
}

TEST(CommandLine, SettingsFileAndAnswers) {
    EXPECT_EQ(ParseCommandLine({"--settings", "s.json"}).settingsFile, std::string("s.json"));
    EXPECT_EQ(ParseCommandLine({"--answer", "ok"}).answer, PromptAnswer::Ok);
    EXPECT_EQ(ParseCommandLine({"--answer", "cancel"}).answer, PromptAnswer::Cancel);
    EXPECT_EQ(ToMsgBoxReturn(PromptAnswer::Cancel), 150); // Parts 5.4 and 5.6
    EXPECT_EQ(ErrorLine({"--answer", "OK"}), "tarnserialport: --answer: \"OK\" is not ok or cancel");
}

TEST(CommandLine, SimWithoutFileIsTheBuiltInScenario) {
    HostOptions options = ParseCommandLine({"--sim"});
    EXPECT_TRUE(options.sim);
    EXPECT_EQ(options.scenarioFile, "");
}

TEST(CommandLine, SimTakesTheFileThatFollows) {
    HostOptions options =
        ParseCommandLine({"--sim", "examples/modem.json", "--test", "InternalRegisterTest"});
    EXPECT_TRUE(options.sim);
    EXPECT_EQ(options.scenarioFile, "examples/modem.json");
    EXPECT_EQ(options.tests, std::vector<std::string>{"InternalRegisterTest"});
}

TEST(CommandLine, SimFollowedByAnOptionTakesNoFile) {
    HostOptions options = ParseCommandLine({"--sim", "--device", "COM1"});
    EXPECT_TRUE(options.sim);
    EXPECT_EQ(options.scenarioFile, "");
    EXPECT_EQ(options.devices, std::vector<std::string>{"COM1"});
}

TEST(CommandLine, ReportJunitAndLogFiles) {
    HostOptions options = ParseCommandLine({"--report", "-", "--junit", "j.xml", "--log", "t.log"});
    EXPECT_EQ(options.reportFile, std::string("-"));
    EXPECT_EQ(options.junitFile, std::string("j.xml"));
    EXPECT_EQ(options.logFile, std::string("t.log"));
    EXPECT_EQ(ParseCommandLine({"--junit", "-"}).junitFile, std::string("-"));
}

TEST(CommandLine, LogPriorityZeroToFive) {
    for (int priority = 0; priority <= 5; ++priority) {
        EXPECT_EQ(ParseCommandLine({"--log-priority", std::to_string(priority)}).logPriority, priority);
    }
    EXPECT_EQ(ErrorLine({"--log-priority", "6"}),
              "tarnserialport: --log-priority: \"6\" is not a priority from 0 to 5");
    EXPECT_EQ(ErrorLine({"--log-priority", "-1"}),
              "tarnserialport: --log-priority: \"-1\" is not a priority from 0 to 5");
    EXPECT_EQ(ErrorLine({"--log-priority", "3x"}),
              "tarnserialport: --log-priority: \"3x\" is not a priority from 0 to 5");
}

TEST(CommandLine, UnknownOptionIsBadInputNamingIt) {
    EXPECT_EQ(ErrorLine({"--bogus"}), "tarnserialport: --bogus: unknown option (see --help)");
    EXPECT_EQ(ErrorLine({"-x"}), "tarnserialport: -x: unknown option (see --help)");
}

TEST(CommandLine, StrayArgumentIsBadInput) {
    EXPECT_EQ(ErrorLine({"--test", "A", "B"}), "tarnserialport: B: unexpected argument (see --help)");
}

TEST(CommandLine, MissingValueIsBadInput) {
    EXPECT_EQ(ErrorLine({"--report"}), "tarnserialport: --report: needs a value");
    EXPECT_EQ(ErrorLine({"--device"}), "tarnserialport: --device: needs a value");
}

TEST(CommandLine, SingleOptionsGivenTwiceAreBadInput) {
    EXPECT_EQ(ErrorLine({"--report", "a", "--report", "b"}),
              "tarnserialport: --report: given more than once");
    EXPECT_EQ(ErrorLine({"--sim", "--sim"}), "tarnserialport: --sim: given more than once");
    EXPECT_EQ(ErrorLine({"--answer", "ok", "--answer", "ok"}),
              "tarnserialport: --answer: given more than once");
}

TEST(CommandLine, EmptyFileNamesAreBadInput) {
    EXPECT_EQ(ErrorLine({"--report", ""}), "tarnserialport: --report: needs a file name");
    EXPECT_EQ(ErrorLine({"--log", ""}), "tarnserialport: --log: needs a file name");
}

TEST(CommandLine, BothReportsOnStandardOutputIsBadInput) {
    EXPECT_EQ(ErrorLine({"--report", "-", "--junit", "-"}),
              "tarnserialport: --junit -: standard output is already taken by --report -");
}

TEST(CommandLine, UsageNamesEveryOption) {
    std::string usage = UsageText();
    for (const char* option : {"--help", "--version", "--list-tests", "--list-devices", "--test", "--device",
                               "--set", "--settings", "--answer", "--sim", "--report", "--junit", "--log ",
                               "--log-priority", "--no-progress"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

} // namespace
} // namespace tarnhost
