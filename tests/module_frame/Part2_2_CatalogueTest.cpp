// Part 2.2: the event, message and parameter catalogue. The 25 events, 5 localized strings and 2 parameters
// by name and order, and at every raise: the severity of the event's row, its variables in the row's order
// with the row's value types, and the source file SerialPortTest.
#include "support/SimFixture.h"
#include "support/Timeline.h"

#include "SerialPortTest.h"

#include <map>
#include <set>
#include <string>
#include <vector>

using kivu5::Framework;
using kivu5::TestResult;
using tarntest::Describe;

namespace {

std::vector<std::string> Said(const kivu5::RunOutcome& outcome) {
    return Describe(outcome.timeline, {"event", "progress", "percent", "log", "prompt"});
}

tarnsim::PortConfig LoopbackPort(uint32_t com = 1) {
    tarnsim::PortConfig port;
    port.com = com;
    port.io = std::vector<uint32_t>{0x3F8};
    port.attached = tarnsim::AttachedConfig::Loopback();
    return port;
}

tarnsim::Scenario With(const tarnsim::PortConfig& port) {
    tarnsim::Scenario scenario;
    scenario.ports.push_back(port);
    return scenario;
}

// The table of Part 2.2: severity and "name:type" of each variable in the order set.
struct EventContract {
    std::string severity;
    std::vector<std::vector<std::string>> variableLists; // the forms allowed (FailedSetup has two)
};

const std::map<std::string, EventContract>& Catalogue() {
    static const std::map<std::string, EventContract> table = {
        {"NotTestable", {"informative", {{"PortNumber:text"}}}},
        {"FailedGetBaudRate", {"error", {{"PortNumber:text"}}}},
        {"FailedSendRecieveTest", {"error", {{"PortNumber:text"}}}},
        {"EnumerationError", {"warning", {{}}}},
        {"TransmitTimeout", {"error", {{"PortNumber:text", "BaudRate:uint"}}}},
        {"MiscompareError", {"error", {{"PortNumber:text", "ValueRead:int", "ExpectedValue:int"}}}},
        {"BaudMiscompareError",
         {"error", {{"PortNumber:text", "BaudRate:uint", "ValueRead:int", "ExpectedValue:int"}}}},
        {"FramingError", {"error", {{"PortNumber:text"}}}},
        {"ParityError", {"error", {{"PortNumber:text"}}}},
        {"OverrunError", {"error", {{"PortNumber:text"}}}},
        {"AccessDeniedFailure", {"warning", {{"PortNumber:text"}}}},
        {"UnableToOpenPort", {"warning", {{"PortNumber:text", "ErrorDescription:text"}}}},
        {"FailedSetup", {"warning", {{"PortNumber:text", "BaudRate:uint"}, {"PortNumber:text"}}}},
        {"DTR_StuckHigh", {"error", {{"PortNumber:text"}}}},
        {"DTR_StuckLow", {"error", {{"PortNumber:text"}}}},
        {"CTS_StuckHigh", {"error", {{"PortNumber:text"}}}},
        {"CTS_STuckLow", {"error", {{"PortNumber:text"}}}},
        {"NoValidBaudRateConfig", {"error", {{}}}},
        {"InvalidBaudRateConfig", {"error", {{"BaudRateIndex:int"}}}},
        {"WriteCompletedShort", {"error", {{"PortNumber:text", "TotalSent:uint", "TotalExpected:int"}}}},
        {"IncorrectCharCount", {"error", {{"PortNumber:text", "DataRead:uint", "DataWritten:int"}}}},
        {"ReadDataIncorrect", {"error", {{"PortNumber:text"}}}},
        {"FailedControlSignalsTest", {"error", {{"PortNumber:text"}}}},
        {"FailedRegTest", {"error", {{"PortNumber:text"}}}},
    };
    return table;
}

std::vector<std::string> Signature(const kivu5::TimelineEntry& entry) {
    std::vector<std::string> out;
    for (const kivu5::VariableRecord& v : entry.vars) {
        out.push_back(v.name + ":" + v.value.typeName());
    }
    return out;
}

} // namespace

class Part2_2_Catalogue : public tarntest::SimTest {
protected:
    // Checks every event of a run against the catalogue and collects the names raised.
    void ExpectContract(const kivu5::RunOutcome& outcome, const std::string& portName,
                        const std::string& context) {
        for (const kivu5::TimelineEntry& e : outcome.timeline) {
            if (e.kind != kivu5::TimelineEntry::EventRaised) {
                continue;
            }
            m_raised.insert(e.name);
            auto row = Catalogue().find(e.name);
            if (row == Catalogue().end()) {
                ADD_FAILURE() << context << ": event outside the raisable catalogue: " << e.name;
                continue;
            }
            EXPECT_EQ(e.severity, row->second.severity) << context << ": " << e.name;
            bool allowed = false;
            for (const std::vector<std::string>& form : row->second.variableLists) {
                allowed = allowed || Signature(e) == form;
            }
            EXPECT_TRUE(allowed) << context << ": " << Describe(e);
            EXPECT_EQ(e.file, "SerialPortTest") << context << ": " << e.name;
            EXPECT_GT(e.line, 0) << context << ": " << e.name;
            for (const kivu5::VariableRecord& v : e.vars) {
                if (v.name == "PortNumber") {
                    EXPECT_EQ(v.value.text(), portName) << context << ": " << Describe(e);
                }
            }
        }
    }
    kivu5::RunOutcome RunAndCheck(const std::string& test, const std::string& portName,
                                  const std::string& context) {
        kivu5::RunOutcome outcome = Run(test);
        ExpectContract(outcome, portName, context + " / " + test);
        return outcome;
    }
    std::set<std::string> m_raised;
};

TEST_F(Part2_2_Catalogue, TwentyFiveEventsExistInCreationOrder) {
    std::vector<std::string> names;
    for (const kivu5::Event* e : Framework::events()) {
        names.push_back(e->name());
    }
    const std::vector<std::string> expected = {"NotTestable",
                                               "FailedGetBaudRate",
                                               "FailedSendRecieveTest",
                                               "EnumerationError",
                                               "TransmitTimeout",
                                               "MiscompareError",
                                               "BaudMiscompareError",
                                               "FramingError",
                                               "ParityError",
                                               "OverrunError",
                                               "AccessDeniedFailure",
                                               "UnableToOpenPort",
                                               "FailedSetup",
                                               "DTR_StuckHigh",
                                               "DTR_StuckLow",
                                               "CTS_StuckHigh",
                                               "CTS_STuckLow",
                                               "NoValidBaudRateConfig",
                                               "InvalidBaudRateConfig",
                                               "WriteCompletedShort",
                                               "IncorrectCharCount",
                                               "ReadDataIncorrect",
                                               "FailedControlSignalsTest",
                                               "FailedRegTest",
                                               "BadDevicePointer"};
    EXPECT_EQ(names, expected);
}

TEST_F(Part2_2_Catalogue, FiveLocalizedStringsExistInCreationOrder) {
    std::vector<std::string> names;
    for (const kivu5::LocalizedString* s : Framework::localizedStrings()) {
        names.push_back(s->name());
    }
    const std::vector<std::string> expected = {"ValidityCheck", "TestComplete", "LoopbackProgress",
                                               "PrgsSendReceive", "ConnectAdapterPrompt"};
    EXPECT_EQ(names, expected);
}

TEST_F(Part2_2_Catalogue, TwoParametersWithTypesEmptyDescriptionAndFlagsFalseTrue) {
    ASSERT_EQ(Framework::parameters().size(), 2u);
    const kivu5::Parameter& prompt = *Framework::parameters()[0];
    EXPECT_EQ(prompt.name(), "PromptUserForLoopBack");
    EXPECT_TRUE(prompt.type() == kivu5::DataType::BOOLEAN());
    EXPECT_EQ(prompt.description(), "");
    EXPECT_FALSE(prompt.flag1());
    EXPECT_TRUE(prompt.flag2());
    const kivu5::Parameter& rates = *Framework::parameters()[1];
    EXPECT_EQ(rates.name(), "BaudRates");
    EXPECT_TRUE(rates.type() == kivu5::DataType::UINT32ARRAY());
    EXPECT_EQ(rates.description(), "");
    EXPECT_FALSE(rates.flag1());
    EXPECT_TRUE(rates.flag2());
}

// Part 2.1's module-wide state: one handle per framework object, set from the pointer the framework returned.
TEST_F(Part2_2_Catalogue, EveryHandleHoldsTheObjectTheFrameworkCreatedUnderItsName) {
    const std::vector<std::pair<kivu5::Event*, const char*>> events = {
        {g_EventNotTestable, "NotTestable"},
        {g_EventFailedGetBaudRate, "FailedGetBaudRate"},
        {g_EventFailedSendRecieveTest, "FailedSendRecieveTest"},
        {g_EventEnumerationError, "EnumerationError"},
        {g_EventTransmitTimeout, "TransmitTimeout"},
        {g_EventMiscompareError, "MiscompareError"},
        {g_EventBaudMiscompareError, "BaudMiscompareError"},
        {g_EventFramingError, "FramingError"},
        {g_EventParityError, "ParityError"},
        {g_EventOverrunError, "OverrunError"},
        {g_EventAccessDeniedFailure, "AccessDeniedFailure"},
        {g_EventUnableToOpenPort, "UnableToOpenPort"},
        {g_EventFailedSetup, "FailedSetup"},
        {g_EventDTR_StuckHigh, "DTR_StuckHigh"},
        {g_EventDTR_StuckLow, "DTR_StuckLow"},
        {g_EventCTS_StuckHigh, "CTS_StuckHigh"},
        {g_EventCTS_STuckLow, "CTS_STuckLow"},
        {g_EventNoValidBaudRateConfig, "NoValidBaudRateConfig"},
        {g_EventInvalidBaudRateConfig, "InvalidBaudRateConfig"},
        {g_EventWriteCompletedShort, "WriteCompletedShort"},
        {g_EventIncorrectCharCount, "IncorrectCharCount"},
        {g_EventReadDataIncorrect, "ReadDataIncorrect"},
        {g_EventFailedControlSignalsTest, "FailedControlSignalsTest"},
        {g_EventFailedRegTest, "FailedRegTest"},
        {g_EventBadDevicePointer, "BadDevicePointer"}};
    for (const auto& [handle, name] : events) {
        EXPECT_EQ(handle, Framework::findEvent(name)) << name;
        EXPECT_NE(handle, nullptr) << name;
    }
    EXPECT_EQ(g_TextValidityCheck, Framework::findLocalizedString("ValidityCheck"));
    EXPECT_EQ(g_TextTestComplete, Framework::findLocalizedString("TestComplete"));
    EXPECT_EQ(g_TextLoopbackProgress, Framework::findLocalizedString("LoopbackProgress"));
    EXPECT_EQ(g_TextPrgsSendReceive, Framework::findLocalizedString("PrgsSendReceive"));
    EXPECT_EQ(g_TextConnectAdapterPrompt, Framework::findLocalizedString("ConnectAdapterPrompt"));
    EXPECT_EQ(g_ParamPromptUserForLoopBack, Framework::findParameter("PromptUserForLoopBack"));
    EXPECT_EQ(g_ParamBaudRates, Framework::findParameter("BaudRates"));
}

// Edge case: EnumerationError is raised with no variables set.
TEST_F(Part2_2_Catalogue, EnumerationErrorIsRaisedWithNoVariables) {
    tarnsim::PortConfig noPortNumber = LoopbackPort();
    noPortNumber.com.reset();
    noPortNumber.name = "NOPORT";
    tarnsim::PortConfig emptyBases = LoopbackPort();
    emptyBases.io = std::vector<uint32_t>{};
    for (const tarnsim::PortConfig& port : {noPortNumber, emptyBases}) {
        Use(With(port));
        kivu5::RunOutcome outcome = Run("InternalRegisterTest");
        EXPECT_EQ(tarntest::Count(outcome.timeline, "event warning EnumerationError {}"), 1u);
        EXPECT_EQ(tarntest::EventNames(outcome.timeline), std::vector<std::string>{"EnumerationError"});
    }
}

// Edge case: NoValidBaudRateConfig is raised with no variables set.
TEST_F(Part2_2_Catalogue, NoValidBaudRateConfigIsRaisedWithNoVariables) {
    Use(With(LoopbackPort()));
    SetParameter("PromptUserForLoopBack", kivu5::Value::Bool(false));
    SetParameter("BaudRates", kivu5::Value::Uint32Array({0xFFFFFFFFu}));
    kivu5::RunOutcome outcome = Run("ExternalLoopbackTest");
    EXPECT_EQ(outcome.result, TestResult::INTERNALERROR());
    EXPECT_EQ(tarntest::EventNames(outcome.timeline), std::vector<std::string>{"NoValidBaudRateConfig"});
    EXPECT_EQ(tarntest::Count(outcome.timeline, "event error NoValidBaudRateConfig {}"), 1u);
}

// Edge case: FailedSetup carries BaudRate (9600, unsigned) only when the external register test raises it.
TEST_F(Part2_2_Catalogue, FailedSetupFromExternalRegisterTestCarriesPortNumberThenBaudRate9600) {
    Use(With(LoopbackPort()));
    // The screens configure 9600 too (DetectModem); the fault starts when the body prompts for the adapter.
    Framework::hooks().answerPrompt = [this](const kivu5::PromptRequest&) {
        Sim().Os(0).failConfigureAt = {9600};
        return kivu5::MSGBOX_RETURN_OK;
    };
    kivu5::RunOutcome outcome = Run("ExternalRegisterTest");
    EXPECT_EQ(outcome.result, (TestResult::FAIL)());
    EXPECT_EQ(tarntest::EventNames(outcome.timeline), std::vector<std::string>{"FailedSetup"});
    EXPECT_EQ(tarntest::Count(outcome.timeline,
                              "event warning FailedSetup {PortNumber:text=COM1, BaudRate:uint=9600}"),
              1u)
        << testing::PrintToString(Said(outcome));
}

TEST_F(Part2_2_Catalogue, FailedSetupFromExternalLoopbackTestCarriesPortNumberOnly) {
    tarnsim::PortConfig port = LoopbackPort();
    port.os.failConfigureAt = {19200};
    Use(With(port));
    SetParameter("PromptUserForLoopBack", kivu5::Value::Bool(false));
    SetParameter("BaudRates", kivu5::Value::Uint32Array({19200}));
    kivu5::RunOutcome outcome = Run("ExternalLoopbackTest");
    EXPECT_EQ(outcome.result, (TestResult::FAIL)());
    EXPECT_EQ(tarntest::EventNames(outcome.timeline), std::vector<std::string>{"FailedSetup"});
    EXPECT_EQ(tarntest::Count(outcome.timeline, "event warning FailedSetup {PortNumber:text=COM1}"), 1u)
        << testing::PrintToString(Said(outcome));
}

// Edge case: InvalidBaudRateConfig carries no PortNumber, only BaudRateIndex built from an int.
TEST_F(Part2_2_Catalogue, InvalidBaudRateConfigCarriesOnlyBaudRateIndexAndNoPortNumber) {
    Use(With(LoopbackPort()));
    SetParameter("PromptUserForLoopBack", kivu5::Value::Bool(false));
    SetParameter("BaudRates", kivu5::Value::Uint32Array({110, 9600}));
    kivu5::RunOutcome outcome = Run("ExternalLoopbackTest");
    EXPECT_EQ(outcome.result, TestResult::PASS());
    size_t raised = 0;
    for (const kivu5::TimelineEntry& e : outcome.timeline) {
        if (e.kind == kivu5::TimelineEntry::EventRaised && e.name == "InvalidBaudRateConfig") {
            ++raised;
            EXPECT_EQ(e.severity, "error");
            EXPECT_EQ(Signature(e), std::vector<std::string>{"BaudRateIndex:int"}) << Describe(e);
        }
    }
    EXPECT_EQ(raised, 1u);
}

// Edge case: BadDevicePointer is in the framework's list of events (last, after the tests) but no run raises
// it.
TEST_F(Part2_2_Catalogue, BadDevicePointerExistsButNoRunRaisesIt) {
    ASSERT_FALSE(Framework::events().empty());
    EXPECT_EQ(Framework::events().back()->name(), "BadDevicePointer");
    EXPECT_EQ(Framework::creationLog().back(), "Event BadDevicePointer");

    Use(tarnsim::Scenario::BuiltIn());
    tarnos::CallTrace::Instance().Enable(false); // the internal send and receive test polls a lot
    for (const char* test : {"ExternalRegisterTest", "ExternalLoopbackTest", "InternalRegisterTest",
                             "InternalControlSignalsTest", "InternalSendAndReceiveTest"}) {
        kivu5::RunOutcome outcome = Run(test);
        EXPECT_EQ(outcome.result, TestResult::PASS()) << test;
        for (const std::string& name : tarntest::EventNames(outcome.timeline)) {
            EXPECT_NE(name, "BadDevicePointer") << test;
        }
    }
    Use(With(tarnsim::PortConfig())); // a device with no properties at all
    for (const char* test : {"ExternalRegisterTest", "InternalRegisterTest"}) {
        for (const std::string& name : tarntest::EventNames(Run(test).timeline)) {
            EXPECT_NE(name, "BadDevicePointer") << test;
        }
    }
}

// Edge case: every raise names the source file SerialPortTest, also for the events of the screening.
TEST_F(Part2_2_Catalogue, EveryRaiseNamesSourceFileSerialPortTestAlsoInScreening) {
    tarnsim::PortConfig denied = LoopbackPort();
    denied.os.openError = 5; // ERROR_ACCESS_DENIED
    Use(With(denied));
    kivu5::RunOutcome outcome = Run("ExternalRegisterTest");
    EXPECT_EQ(tarntest::EventNames(outcome.timeline),
              (std::vector<std::string>{"UnableToOpenPort", "AccessDeniedFailure", "NotTestable"}));
    std::set<int> lines;
    for (const kivu5::TimelineEntry& e : outcome.timeline) {
        if (e.kind == kivu5::TimelineEntry::EventRaised) {
            EXPECT_EQ(e.file, "SerialPortTest") << e.name;
            EXPECT_GT(e.line, 0) << e.name;
            lines.insert(e.line);
        }
    }
    EXPECT_EQ(lines.size(), 3u) << "each raise gives the line of its own statement";

    tarnsim::PortConfig modem = LoopbackPort();
    modem.attached = tarnsim::AttachedConfig::Modem();
    Use(With(modem));
    outcome = Run("ExternalLoopbackTest");
    ASSERT_EQ(tarntest::EventNames(outcome.timeline), std::vector<std::string>{"NotTestable"});
    for (const kivu5::TimelineEntry& e : outcome.timeline) {
        if (e.kind == kivu5::TimelineEntry::EventRaised) {
            EXPECT_EQ(e.file, "SerialPortTest");
        }
    }
}

// The table as a whole: each event's severity is the same at every place that raises it, and its variables
// are those of its row, in the row's order, with the row's value types; PortNumber is the port's name.
TEST_F(Part2_2_Catalogue, EveryRaisedEventHasItsRowsSeverityVariablesAndTypes) {
    auto use = [this](tarnsim::PortConfig port) {
        Use(With(port));
        tarnos::CallTrace::Instance().Enable(false);
    };
    auto prompt = [](bool on) { SetParameter("PromptUserForLoopBack", kivu5::Value::Bool(on)); };
    auto rates = [](std::vector<uint32_t> list) {
        SetParameter("BaudRates", kivu5::Value::Uint32Array(list));
    };

    use(LoopbackPort(2));
    for (const char* test : {"ExternalRegisterTest", "ExternalLoopbackTest", "InternalRegisterTest",
                             "InternalControlSignalsTest", "InternalSendAndReceiveTest"}) {
        RunAndCheck(test, "COM2", "healthy");
    }

    tarnsim::PortConfig unplugged = LoopbackPort(3);
    unplugged.attached = tarnsim::AttachedConfig::None();
    use(unplugged);
    prompt(true);
    rates({9600});
    RunAndCheck("ExternalRegisterTest", "COM3", "no plug"); // DTR_StuckLow, CTS_STuckLow
    RunAndCheck("ExternalLoopbackTest", "COM3", "no plug"); // IncorrectCharCount

    tarnsim::PortConfig held = LoopbackPort();
    held.attached.dsr = tarnsim::AttachedConfig::Hold::High;
    held.attached.cts = tarnsim::AttachedConfig::Hold::High;
    use(held);
    RunAndCheck("ExternalRegisterTest", "COM1", "lines held high"); // DTR_StuckHigh, CTS_StuckHigh

    // Short writes from the start would look like a modem to the screen (Part 3.2): they begin at the prompt.
    use(LoopbackPort());
    g_PromptForLoopback = true;
    Framework::hooks().answerPrompt = [this](const kivu5::PromptRequest&) {
        Sim().Attached(0).acceptPerWrite = 0u;
        return kivu5::MSGBOX_RETURN_OK;
    };
    kivu5::RunOutcome outcome = RunAndCheck("ExternalLoopbackTest", "COM1", "short writes");
    EXPECT_EQ(tarntest::Count(outcome.timeline, "event error WriteCompletedShort {PortNumber:text=COM1, "
                                                "TotalSent:uint=0, TotalExpected:int=256}"),
              1u);
    Framework::hooks().answerPrompt = nullptr; // prompts are answered OK again

    tarnsim::PortConfig zeros = LoopbackPort();
    zeros.attached.appendZeros = 2;
    use(zeros);
    RunAndCheck("ExternalLoopbackTest", "COM1", "appended zeros"); // ReadDataIncorrect

    use(LoopbackPort());
    prompt(false);
    rates({110, 0xFFFFFFFFu});
    RunAndCheck("ExternalLoopbackTest", "COM1", "bad list"); // InvalidBaudRateConfig, NoValidBaudRateConfig
    rates({19200});
    Sim().Os(0).failConfigureAt = {19200};
    RunAndCheck("ExternalLoopbackTest", "COM1", "setup fails"); // FailedSetup (PortNumber only)
    Sim().Os(0).failConfigureAt = {};
    prompt(true);
    g_PromptForLoopback = true;
    Framework::hooks().answerPrompt = [this](const kivu5::PromptRequest&) {
        Sim().Os(0).failConfigureAt = {9600};
        return kivu5::MSGBOX_RETURN_OK;
    };
    outcome = RunAndCheck("ExternalRegisterTest", "COM1", "setup fails");
    EXPECT_EQ(tarntest::Count(outcome.timeline,
                              "event warning FailedSetup {PortNumber:text=COM1, BaudRate:uint=9600}"),
              1u);
    Framework::hooks().answerPrompt = nullptr;

    tarnsim::PortConfig absent = LoopbackPort();
    absent.uart.model = tarnsim::UartConfig::Model::Absent;
    use(absent);
    RunAndCheck("InternalRegisterTest", "COM1", "absent UART"); // FailedRegTest

    tarnsim::PortConfig deaf = LoopbackPort();
    deaf.uart.msr = tarnsim::UartConfig::Msr::Zero;
    use(deaf);
    RunAndCheck("InternalControlSignalsTest", "COM1",
                "MSR zero"); // MiscompareError, FailedControlSignalsTest

    tarnsim::PortConfig corrupt = LoopbackPort();
    corrupt.uart.corrupt = {tarnsim::CorruptRule{2400, 0x41, 0x43}};
    corrupt.uart.lineErrors = {tarnsim::LineErrorRule{4800, 0x10, 0x08},
                               tarnsim::LineErrorRule{9600, 0x10, 0x04},
                               tarnsim::LineErrorRule{19200, 0x10, 0x02}};
    use(corrupt);
    // BaudMiscompareError, FramingError, ParityError, OverrunError, FailedSendRecieveTest
    RunAndCheck("InternalSendAndReceiveTest", "COM1", "corrupt and line errors");

    tarnsim::PortConfig noThre = LoopbackPort();
    noThre.uart.noThre = true;
    noThre.os.settableBaud = 0x800; // 9600 only: one 3 s time-out
    use(noThre);
    RunAndCheck("InternalSendAndReceiveTest", "COM1", "THRE never set"); // TransmitTimeout

    tarnsim::PortConfig noState = LoopbackPort();
    noState.os.fail = {"GetCommState"};
    use(noState);
    RunAndCheck("InternalSendAndReceiveTest", "COM1", "no comm state"); // FailedGetBaudRate

    tarnsim::PortConfig denied = LoopbackPort();
    denied.os.openError = 5;
    use(denied);
    RunAndCheck("ExternalRegisterTest", "COM1",
                "access denied"); // UnableToOpenPort, AccessDeniedFailure, NotTestable

    tarnsim::PortConfig noBases = LoopbackPort();
    noBases.io = std::vector<uint32_t>{};
    use(noBases);
    RunAndCheck("InternalRegisterTest", "COM1", "empty bases"); // EnumerationError

    std::set<std::string> expected;
    for (const auto& row : Catalogue()) {
        expected.insert(row.first);
    }
    EXPECT_EQ(m_raised, expected) << "every raisable event was exercised, and BadDevicePointer never";
}
