// Part 5.5: the baud-rate list of the external loopback test: the BaudRates parameter or, when it gives no
// entries, the default list of 15 rates, validated entry by entry against the port's settable rates.
#include "DiagnosticsSupport.h"

#include <cstdlib>

namespace tarndiag {
namespace {

using kivu5::TestResult;

const char* const NO_VALID_CONFIG = "event error NoValidBaudRateConfig {}";
const char* const NO_VALID_CONFIG_LOG =
    "log 4 Baud rate list not properly configured in the configuration file.  No valid baud rates found";
const CBaudRateList TWELVE = {300, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000};

class Part5_5_BaudRateListConfiguration : public DiagTest {
protected:
    void SetBaudRates(std::vector<uint32_t> rates) {
        SetParameter("BaudRates", kivu5::Value::Uint32Array(std::move(rates)));
    }

    // The rates the run tested: the BaudRate of every LoopbackProgress but the final one (Part 5.6, step 5).
    static std::vector<unsigned> TestedRates(const kivu5::RunOutcome& out) {
        std::vector<unsigned> rates;
        for (const kivu5::TimelineEntry& e : out.timeline) {
            if (e.kind == kivu5::TimelineEntry::Progress && e.name == "LoopbackProgress") {
                rates.push_back(static_cast<unsigned>(e.vars.at(0).value.number()));
            }
        }
        if (!rates.empty()) {
            rates.pop_back();
        }
        return rates;
    }

    // The events and logs of the list's loading: what the run said between the prompt and the first pass.
    static std::vector<std::string> ListFindings(const kivu5::RunOutcome& out) {
        std::vector<std::string> lines;
        for (const std::string& line : tarntest::Describe(out.timeline, {"event", "log"})) {
            if (line.find("InvalidBaudRateConfig") != std::string::npos ||
                line.find("Invalid baud rate") != std::string::npos ||
                line.find("NoValidBaudRateConfig") != std::string::npos ||
                line.find("No valid baud rates") != std::string::npos) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    // LoadBaudRates called directly on an open port of the scenario, with a fresh timeline.
    struct Loaded {
        bool ok;
        CBaudRateList rates;
        std::vector<std::string> said;
    };
    Loaded Load() {
        CSerialPort port(1, COM1_BASE);
        EXPECT_TRUE(port.Open());
        CSerialPortTest test(EXTERNAL_LOOPBACK_TEST_ID);
        CSerialPortTestAccess access(test);
        kivu5::Framework::beginRun();
        bool ok = access.LoadBaudRates(port);
        return {ok, access.BaudRates(), tarntest::Describe(kivu5::Framework::timeline(), {"event", "log"})};
    }
};

TEST_F(Part5_5_BaudRateListConfiguration, EmptyConfigurationOnAFullPortRejects110And600And256000InThatOrder) {
    Use(tarnsim::Scenario::BuiltIn());
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(ListFindings(out), Invalids({0, 2, 14})); // 110, 600 and 256000 of the default list
    EXPECT_EQ(TestedRates(out), TWELVE);
}

TEST_F(Part5_5_BaudRateListConfiguration, EmptyConfigurationLeavesTheTwelveSettableRatesInDefaultOrder) {
    Use(tarnsim::Scenario::BuiltIn());
    Loaded loaded = Load();
    EXPECT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.rates, TWELVE);
    EXPECT_EQ(loaded.said, Invalids({0, 2, 14}));
}

TEST_F(Part5_5_BaudRateListConfiguration, ConfiguredList115200Then300KeepsItsOrder) {
    Use(tarnsim::Scenario::BuiltIn());
    SetBaudRates({115200, 300});
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(ListFindings(out), std::vector<std::string>());
    EXPECT_EQ(TestedRates(out), CBaudRateList({115200, 300}));
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>({115200, 9600, 300, 9600}));
}

TEST_F(Part5_5_BaudRateListConfiguration, ConfiguredList9600Twice9600IsTestedTwice) {
    Use(tarnsim::Scenario::BuiltIn());
    SetBaudRates({9600, 9600});
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(ListFindings(out), std::vector<std::string>());
    EXPECT_EQ(TestedRates(out), CBaudRateList({9600, 9600}));
    EXPECT_EQ(BodyOps({"ReadFile"}).size(), 2u); // two passes
}

TEST_F(Part5_5_BaudRateListConfiguration, OnlyTheSkipMarkerRaisesNoInvalidButNoValidConfigAndInternalError) {
    Use(tarnsim::Scenario::BuiltIn());
    SetBaudRates({0xFFFFFFFFu});
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::INTERNALERROR());
    // The defaults are not used: they would raise three InvalidBaudRateConfig and pass.
    EXPECT_EQ(Said(out), Framed({PROMPT_OK, NO_VALID_CONFIG, NO_VALID_CONFIG_LOG}));
    EXPECT_EQ(BodyOps({"WriteFile", "ReadFile", "BuildCommDCBW"}), std::vector<std::string>());
}

TEST_F(Part5_5_BaudRateListConfiguration, OnlyUnsupportedRatesRaiseOneInvalidEachThenNoValidConfig) {
    Use(tarnsim::Scenario::BuiltIn());
    SetBaudRates({110, 600});
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::INTERNALERROR());
    std::vector<std::string> body = {PROMPT_OK};
    for (const std::string& line : Invalids({0, 1})) {
        body.push_back(line);
    }
    body.push_back(NO_VALID_CONFIG);
    body.push_back(NO_VALID_CONFIG_LOG);
    EXPECT_EQ(Said(out), Framed(body));
}

TEST_F(Part5_5_BaudRateListConfiguration, EntryZeroIsRejectedLikeAnyUnsupportedRateOnlyAllOnesIsSilent) {
    Use(tarnsim::Scenario::BuiltIn());
    SetBaudRates({0xFFFFFFFFu, 0, 9600});
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(ListFindings(out), Invalids({1})); // 0 at position 1; the marker at position 0 is passed over
    EXPECT_EQ(TestedRates(out), CBaudRateList({9600}));
}

TEST_F(Part5_5_BaudRateListConfiguration, UnreadablePortPropertiesRejectEveryEntryAndTheRunIsInternalError) {
    Use(tarnsim::Scenario::BuiltIn());
    // From the dispatcher's Open on: the testability screen reads the properties too.
    AtOpen(3, [this] { Sim().Os(0).fail = {"GetCommProperties"}; });
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::INTERNALERROR());
    std::vector<std::string> expected = Invalids({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14});
    expected.push_back(NO_VALID_CONFIG);
    expected.push_back(NO_VALID_CONFIG_LOG);
    EXPECT_EQ(ListFindings(out), expected);
    EXPECT_EQ(TestedRates(out), CBaudRateList());
}

TEST_F(Part5_5_BaudRateListConfiguration, PortSettableMaskDecidesWhichListedRatesAreKept) {
    tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
    scenario.ports[0].os.settableBaud = SettableMask({9600, 19200});
    Use(scenario);
    Loaded loaded = Load();
    EXPECT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.rates, CBaudRateList({9600, 19200}));
    EXPECT_EQ(loaded.said, Invalids({0, 1, 2, 3, 4, 5, 7, 9, 10, 11, 12, 13, 14}));
}

TEST_F(Part5_5_BaudRateListConfiguration, SecondRunRebuildsTheListSoAParameterChangeTakesEffect) {
    Use(tarnsim::Scenario::BuiltIn());
    SetBaudRates({9600});
    kivu5::RunOutcome first = Run("ExternalLoopbackTest");
    EXPECT_EQ(TestedRates(first), CBaudRateList({9600}));
    SetBaudRates({115200, 300});
    kivu5::RunOutcome second = Run("ExternalLoopbackTest");
    EXPECT_EQ(second.result, TestResult::PASS());
    EXPECT_EQ(TestedRates(second), CBaudRateList({115200, 300}));
    EXPECT_EQ(g_DefaultBaudRates,
              CBaudRateList({110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200,
                             128000, 256000})); // not rebuilt, not changed
}

TEST_F(Part5_5_BaudRateListConfiguration, LoadEmptiesTheListOfTheSameObjectBeforeRefillingIt) {
    Use(tarnsim::Scenario::BuiltIn());
    CSerialPort port(1, COM1_BASE);
    ASSERT_TRUE(port.Open());
    CSerialPortTest test(EXTERNAL_LOOPBACK_TEST_ID);
    CSerialPortTestAccess access(test);
    SetBaudRates({9600, 300});
    ASSERT_TRUE(access.LoadBaudRates(port));
    SetBaudRates({57600});
    ASSERT_TRUE(access.LoadBaudRates(port));
    EXPECT_EQ(access.BaudRates(), CBaudRateList({57600}));
}

TEST_F(Part5_5_BaudRateListConfiguration, ValidateAppendsAcceptedEntriesWithoutEmptyingTheList) {
    Use(tarnsim::Scenario::BuiltIn());
    CSerialPort port(1, COM1_BASE);
    ASSERT_TRUE(port.Open());
    CSerialPortTest test(EXTERNAL_LOOPBACK_TEST_ID);
    CSerialPortTestAccess access(test);
    kivu5::Framework::beginRun();
    access.ValidateBaudRates(port, {9600, 110});
    access.ValidateBaudRates(port, {300, 0xFFFFFFFFu, 600});
    EXPECT_EQ(access.BaudRates(), CBaudRateList({9600, 300}));
    EXPECT_EQ(tarntest::Describe(kivu5::Framework::timeline(), {"event", "log"}),
              Invalids({1, 2})); // each pass counts positions in its own list
}

TEST_F(Part5_5_BaudRateListConfiguration, NullParameterHandlePrintsTheStarredTextAndUsesTheDefaults) {
    Use(tarnsim::Scenario::BuiltIn());
    kivu5::Parameter* saved = g_ParamBaudRates;
    g_ParamBaudRates = nullptr; // the module treats a null handle as the absence of the parameter
    ::testing::internal::CaptureStdout();
    Loaded loaded = Load();
    std::string printed = ::testing::internal::GetCapturedStdout();
    g_ParamBaudRates = saved;
    EXPECT_EQ(printed, "\n*** Baud Rates listing is empty, resort to default value ***\n\n");
    EXPECT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.rates, TWELVE);
    EXPECT_EQ(loaded.said, Invalids({0, 2, 14}));
}

TEST_F(Part5_5_BaudRateListConfiguration, EmptyParameterArrayPrintsNothingAndUsesTheDefaults) {
    Use(tarnsim::Scenario::BuiltIn());
    SetBaudRates({});
    ::testing::internal::CaptureStdout();
    Loaded loaded = Load();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(loaded.rates, TWELVE);
}

TEST_F(Part5_5_BaudRateListConfiguration, DefaultListIsReleasedAtProcessExitWithoutCrashing) {
    // Part 2.3: "Static initialisation registers an exit handler that releases its storage." In a child
    // process: fill the default list as the first ExternalLoopbackTest object does, then end the process.
    EXPECT_EXIT(
        {
            CSerialPortTest test(EXTERNAL_LOOPBACK_TEST_ID);
            std::exit(g_DefaultBaudRates.size() == 15 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace tarndiag
