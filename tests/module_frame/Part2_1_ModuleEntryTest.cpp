// Part 2.1: module entry and test registration. The process entry (main, renamed TarnSerialPortMain in the
// test build), the order of static initialisation, the five tests with their requirements, the parameters
// attached by the initialisation callback, the trace names and IDs of the five entry functions.
#include "support/SimFixture.h"
#include "support/TestHost.h"
#include "support/Timeline.h"

#include "SerialPortTest.h"
#include "tarnserialport.h"

#include <climits>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using kivu5::Framework;
using kivu5::TestResult;
using tarntest::Describe;

namespace {

const char* const TEST_NAMES_IN_REGISTRATION_ORDER[] = {"ExternalRegisterTest", "ExternalLoopbackTest",
                                                        "InternalRegisterTest", "InternalControlSignalsTest",
                                                        "InternalSendAndReceiveTest"};

// A device with IoBaseAddresses but no ComPortNumber: RunTest ends at once with NODEVICE (Part 3.1, step 3),
// so a run shows the entry function's own trace scope and nothing of a test body.
kivu5::DiagDevice DeviceWithoutPortNumber() {
    kivu5::DiagDevice device("NOPORT");
    device.setProperty("IoBaseAddresses", kivu5::Value::Uint32Array({0x3F8}));
    return device;
}

std::vector<std::string> ParameterNames(const kivu5::Test& test, size_t from = 0) {
    std::vector<std::string> names;
    for (size_t i = from; i < test.parameters().size(); ++i) {
        names.push_back(test.parameters()[i]->name());
    }
    return names;
}

} // namespace

class Part2_1_ModuleEntry : public tarntest::SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        Use(tarnsim::Scenario::BuiltIn()); // virtual time for the timeline's tick counts
        qen::SetErrorStreamWriter([this](const std::string& text) { m_cerr += text; });
    }
    void TearDown() override {
        tarntest::SetStartBehaviour(nullptr);
        qen::SetErrorStreamWriter(nullptr);
        SimTest::TearDown();
    }
    std::string m_cerr;
};

// Static initialisation, steps 1 to 7 (step 8, the "COM" constant, is no framework object).
TEST_F(Part2_1_ModuleEntry, StaticInitialisationCreatesFrameworkObjectsInSpecOrder) {
    const std::vector<std::string> expected = {
        "LocalizedString ValidityCheck",
        "Event NotTestable",
        "Event FailedGetBaudRate",
        "Event FailedSendRecieveTest",
        "Event EnumerationError",
        "Event TransmitTimeout",
        "Event MiscompareError",
        "Event BaudMiscompareError",
        "Event FramingError",
        "Event ParityError",
        "Event OverrunError",
        "Event AccessDeniedFailure",
        "Event UnableToOpenPort",
        "Event FailedSetup",
        "Event DTR_StuckHigh",
        "Event DTR_StuckLow",
        "Event CTS_StuckHigh",
        "Event CTS_STuckLow",
        "Event NoValidBaudRateConfig",
        "Event InvalidBaudRateConfig",
        "Event WriteCompletedShort",
        "Event IncorrectCharCount",
        "Event ReadDataIncorrect",
        "Event FailedControlSignalsTest",
        "Event FailedRegTest",
        "LocalizedString TestComplete",
        "LocalizedString LoopbackProgress",
        "LocalizedString PrgsSendReceive",
        "LocalizedString ConnectAdapterPrompt",
        "Parameter PromptUserForLoopBack",
        "Parameter BaudRates",
        "Test ExternalRegisterTest",
        "Test ExternalLoopbackTest",
        "Test InternalRegisterTest",
        "Test InternalControlSignalsTest",
        "Test InternalSendAndReceiveTest",
        "Event BadDevicePointer",
    };
    EXPECT_EQ(Framework::creationLog(), expected);
}

TEST_F(Part2_1_ModuleEntry, FiveTestsAreRegisteredInOrderWithTheirEntryFunctions) {
    const std::vector<std::pair<std::string, kivu5::Test::EntryFunction>> expected = {
        {"ExternalRegisterTest", &ExternalRegisterTest},
        {"ExternalLoopbackTest", &ExternalLoopbackTest},
        {"InternalRegisterTest", &InternalRegisterTest},
        {"InternalControlSignalsTest", &InternalControlSignalsTest},
        {"InternalSendAndReceiveTest", &InternalSendAndReceiveTest},
    };
    ASSERT_EQ(Framework::tests().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(Framework::tests()[i]->name(), expected[i].first);
        EXPECT_EQ(Framework::tests()[i]->entry(), expected[i].second) << expected[i].first;
    }
    EXPECT_EQ(Framework::tests()[0], g_TestExternalRegisterTest);
    EXPECT_EQ(Framework::tests()[1], g_TestExternalLoopbackTest);
}

TEST_F(Part2_1_ModuleEntry, AllFiveRequireComPortNumberThenIoBaseAddressesWithEmptyValue) {
    const std::vector<std::pair<std::string, std::string>> expected = {{"ComPortNumber", ""},
                                                                       {"IoBaseAddresses", ""}};
    for (const char* name : TEST_NAMES_IN_REGISTRATION_ORDER) {
        const kivu5::Test* test = Framework::findTest(name);
        ASSERT_NE(test, nullptr) << name;
        EXPECT_EQ(test->capability().name(), "SerialPort") << name;
        EXPECT_EQ(test->requirements(), expected) << name;
    }
}

// Edge case: only ExternalLoopbackTest carries BaudRates; ExternalRegisterTest carries PromptUserForLoopBack
// alone; the internal tests carry none. The callback attaches them when the framework runs it (in start),
// not during static initialisation. Counted from before the call, so the test holds however often main ran
// before in this process.
TEST_F(Part2_1_ModuleEntry, OnlyExternalLoopbackTestCarriesBaudRatesAndExternalRegisterTestOnlyThePrompt) {
    std::vector<size_t> before;
    for (const char* name : TEST_NAMES_IN_REGISTRATION_ORDER) {
        before.push_back(Framework::findTest(name)->parameters().size());
    }
    std::vector<size_t> atStart;
    tarntest::SetStartBehaviour([&] {
        for (const char* name : TEST_NAMES_IN_REGISTRATION_ORDER) {
            atStart.push_back(Framework::findTest(name)->parameters().size());
        }
        return 0;
    });
    ASSERT_EQ(tarntest::CallModuleMain({"tarnserialport"}), 0);

    const std::vector<std::vector<std::string>> added = {
        {"PromptUserForLoopBack"}, {"BaudRates", "PromptUserForLoopBack"}, {}, {}, {}};
    for (size_t i = 0; i < 5; ++i) {
        const kivu5::Test& test = *Framework::findTest(TEST_NAMES_IN_REGISTRATION_ORDER[i]);
        EXPECT_EQ(ParameterNames(test, before[i]), added[i]) << test.name();
        EXPECT_EQ(atStart[i], before[i] + added[i].size())
            << "attached when the framework ran the callback, before any test";
    }
    const kivu5::Test& loopback = *Framework::findTest("ExternalLoopbackTest");
    ASSERT_EQ(loopback.parameters().size(), before[1] + 2);
    EXPECT_EQ(loopback.parameters()[before[1]], g_ParamBaudRates);
    EXPECT_EQ(loopback.parameters()[before[1] + 1], g_ParamPromptUserForLoopBack);
    EXPECT_EQ(Framework::findTest("ExternalRegisterTest")->parameters()[before[0]],
              g_ParamPromptUserForLoopBack);
}

TEST_F(Part2_1_ModuleEntry, MainHandsCommandLineAndVersion5_0_000000001ToTheFramework) {
    std::vector<std::string> seenCommandLine;
    std::string seenVersion;
    tarntest::SetStartBehaviour([&] {
        seenCommandLine = Framework::commandLine();
        seenVersion = Framework::version();
        return 0;
    });
    EXPECT_EQ(
        tarntest::CallModuleMain({"tarnserialport", "--test", "InternalRegisterTest", "--device", "COM3"}),
        0);
    const std::vector<std::string> expected = {"tarnserialport", "--test", "InternalRegisterTest", "--device",
                                               "COM3"};
    EXPECT_EQ(seenCommandLine, expected) << "setCmdLineArgs runs before start";
    EXPECT_EQ(seenVersion, "5.0.000000001") << "setVersion runs before start";
    EXPECT_EQ(m_cerr, "");
}

// Edge case: whatever integer start returns is the exit code, unchanged.
TEST_F(Part2_1_ModuleEntry, ExitCodeIsWhateverStartReturnsUnchanged) {
    for (int rc : {0, 1, 2, 3, 4, 42, -1, 255, 256, 65536, INT_MAX, INT_MIN}) {
        tarntest::SetStartBehaviour([rc] { return rc; });
        EXPECT_EQ(tarntest::CallModuleMain({"tarnserialport"}), rc);
    }
    EXPECT_EQ(m_cerr, "");
}

// Edge case: when start throws a qen::Exception, the exit code is EXITEDABNORMALLY's value, not 0.
TEST_F(Part2_1_ModuleEntry, StartThrowingQenExceptionExitsWithEXITEDABNORMALLYAndWritesMessageToCerr) {
    tarntest::SetStartBehaviour([]() -> int { throw qen::Exception(qen::String("framework gave up")); });
    const int rc = tarntest::CallModuleMain({"tarnserialport"});
    EXPECT_EQ(rc, TestResult::EXITEDABNORMALLY().value());
    EXPECT_NE(rc, 0);
    EXPECT_EQ(m_cerr, "exception caught: framework gave up\n");
}

TEST_F(Part2_1_ModuleEntry, StartThrowingAssertionFailureIsCaughtAsQenException) {
    const qen::AssertionFailure failure("kivu5", 12, "x != 0");
    tarntest::SetStartBehaviour([&]() -> int { throw failure; });
    EXPECT_EQ(tarntest::CallModuleMain({"tarnserialport"}), TestResult::EXITEDABNORMALLY().value());
    EXPECT_EQ(m_cerr, "exception caught: " + failure.getMessage().str() + "\n");
}

TEST_F(Part2_1_ModuleEntry, ExceptionsOfOtherTypesAreNotCaughtByMain) {
    tarntest::SetStartBehaviour([]() -> int { throw std::runtime_error("not a qen exception"); });
    EXPECT_THROW(tarntest::CallModuleMain({"tarnserialport"}), std::runtime_error);
    EXPECT_EQ(m_cerr, "");
}

// Part 1.2 rule 1 for main: a trace scope named "main", closed also on the exception path.
TEST_F(Part2_1_ModuleEntry, MainTracesUnderMainOnEveryWayOut) {
    Framework::beginRun();
    tarntest::CallModuleMain({"tarnserialport"});
    EXPECT_EQ(Describe(Framework::timeline(), {"trace"}),
              (std::vector<std::string>{"trace -> main", "trace <- main"}));

    Framework::beginRun();
    tarntest::SetStartBehaviour([]() -> int { throw qen::Exception(qen::String("x")); });
    tarntest::CallModuleMain({"tarnserialport"});
    EXPECT_EQ(Describe(Framework::timeline(), {"trace"}),
              (std::vector<std::string>{"trace -> main", "trace <- main"}));

    Framework::beginRun();
    qen::LoggerPriority::LOGGER_PRIORITY = 2; // rule 1: no trace logger above priority 1
    tarntest::SetStartBehaviour(nullptr);
    tarntest::CallModuleMain({"tarnserialport"});
    EXPECT_TRUE(Describe(Framework::timeline(), {"trace"}).empty());
}

// Edge case: InternalSendAndReceiveTest traces under "Serial Port Internal Send and Receive Test".
TEST_F(Part2_1_ModuleEntry, InternalSendAndReceiveTestTracesUnderItsLongName) {
    kivu5::RunOutcome outcome = Run("InternalSendAndReceiveTest", DeviceWithoutPortNumber());
    EXPECT_EQ(outcome.result, TestResult::NODEVICE());
    const std::vector<std::string> expected = {"trace -> Serial Port Internal Send and Receive Test",
                                               "trace -> RunTest", "trace <- RunTest",
                                               "trace <- Serial Port Internal Send and Receive Test"};
    EXPECT_EQ(Describe(outcome.timeline, {"trace"}), expected);
    // Part 1.2 rule 1: each scope with its own source file (the entry functions' is tarnserialport).
    std::vector<std::string> files;
    for (const kivu5::TimelineEntry& e : outcome.timeline) {
        if (e.kind == kivu5::TimelineEntry::Trace) {
            files.push_back(e.file);
            EXPECT_GT(e.line, 0);
        }
    }
    EXPECT_EQ(files, (std::vector<std::string>{"tarnserialport", "SerialPortTest", "SerialPortTest",
                                               "tarnserialport"}));
}

// Edge case: the other four trace under their test names.
TEST_F(Part2_1_ModuleEntry, OtherFourTestsTraceUnderTheirTestNames) {
    for (const char* name : {"InternalControlSignalsTest", "InternalRegisterTest", "ExternalLoopbackTest",
                             "ExternalRegisterTest"}) {
        kivu5::RunOutcome outcome = Run(name, DeviceWithoutPortNumber());
        EXPECT_EQ(outcome.result, TestResult::NODEVICE()) << name;
        const std::vector<std::string> expected = {std::string("trace -> ") + name, "trace -> RunTest",
                                                   "trace <- RunTest", std::string("trace <- ") + name};
        EXPECT_EQ(Describe(outcome.timeline, {"trace"}), expected);
    }
}

// Step 1 with Part 1.2 rule 1: "main, RunTest and each test function open a TraceLogger with their own name,
// source file and line", so the five entry functions' scopes carry five different lines.
TEST_F(Part2_1_ModuleEntry, EachEntryFunctionOpensItsTraceScopeAtItsOwnLine) {
    std::set<int> lines;
    for (const char* name : TEST_NAMES_IN_REGISTRATION_ORDER) {
        kivu5::RunOutcome outcome = Run(name, DeviceWithoutPortNumber());
        ASSERT_FALSE(outcome.timeline.empty());
        const kivu5::TimelineEntry& entry = outcome.timeline.front();
        ASSERT_EQ(entry.kind, kivu5::TimelineEntry::Trace) << name;
        EXPECT_EQ(entry.file, "tarnserialport") << name;
        lines.insert(entry.line);
    }
    EXPECT_EQ(lines.size(), 5u) << "the five entry functions trace at the same line: " << *lines.begin();
}

TEST_F(Part2_1_ModuleEntry, EntryFunctionTracesOnlyAtGlobalPriority1) {
    qen::LoggerPriority::LOGGER_PRIORITY = 2;
    kivu5::RunOutcome outcome = Run("InternalRegisterTest", DeviceWithoutPortNumber());
    EXPECT_TRUE(Describe(outcome.timeline, {"trace"}).empty());
}

// Each entry function builds its CSerialPortTest with the ID of the table (Part 2.3 keeps it after the run).
TEST_F(Part2_1_ModuleEntry, EachEntryFunctionRunsTheTestIdOfTheTable) {
    const std::vector<std::pair<std::string, int>> ids = {{"InternalControlSignalsTest", 1},
                                                          {"InternalRegisterTest", 2},
                                                          {"InternalSendAndReceiveTest", 3},
                                                          {"ExternalLoopbackTest", 4},
                                                          {"ExternalRegisterTest", 5}};
    for (const auto& [name, id] : ids) {
        CSerialPortTest::mtestID = -100;
        Run(name, DeviceWithoutPortNumber());
        EXPECT_EQ(CSerialPortTest::mtestID, id) << name;
    }
}

// Failure handling: an exception that leaves RunTest passes through the entry function unchanged, after the
// object and the trace scope have ended.
TEST_F(Part2_1_ModuleEntry, DriverMissingExceptionPassesThroughTheEntryFunctionUnchanged) {
    tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
    scenario.driverInstalled = false;
    Use(scenario);
    const kivu5::DiagDevice device = tarnsim::MakeDevice(scenario.ports[0]);
    bool caught = false;
    try {
        InternalRegisterTest(device);
    } catch (const qen::AssertionFailure&) {
        ADD_FAILURE() << "an AssertionFailure, not the driver's qen::Exception";
    } catch (const qen::Exception& e) {
        caught = true;
        EXPECT_EQ(e.getMessage().str(), "TARN Driver not installed!");
    }
    EXPECT_TRUE(caught);
    EXPECT_EQ(CSerialPortTest::mtestID, 2);
    const std::vector<std::string> traces = {"trace -> InternalRegisterTest", "trace -> RunTest",
                                             "trace <- RunTest", "trace <- InternalRegisterTest"};
    EXPECT_EQ(Describe(Framework::timeline(), {"trace"}), traces);

    kivu5::RunOutcome outcome = Run("ExternalLoopbackTest");
    EXPECT_EQ(outcome.result, TestResult::EXITEDABNORMALLY());
    EXPECT_TRUE(outcome.exception);
    EXPECT_EQ(outcome.exceptionMessage, "TARN Driver not installed!");
}
