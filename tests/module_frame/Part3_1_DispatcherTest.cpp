// Part 3.1: the test dispatcher RunTest. Device properties, the port wrapper, ValidityCheck at 0 %, the
// screens' outcomes, the one stop check, the dispatch table, the open failure and TestComplete at 100 %,
// with the log texts and priorities of its failure table.
#include "support/SimFixture.h"
#include "support/Timeline.h"

#include "SerialPortTest.h"

#include <string>
#include <vector>

using kivu5::Framework;
using kivu5::TestResult;
using tarntest::Describe;

namespace {

const std::vector<std::string> SAID = {"event", "progress", "percent", "log", "prompt"};

std::vector<std::string> Said(const std::vector<kivu5::TimelineEntry>& timeline) {
    return Describe(timeline, SAID);
}
std::vector<std::string> Said(const kivu5::RunOutcome& outcome) {
    return Said(outcome.timeline);
}

std::vector<std::string> Logs(const kivu5::RunOutcome& outcome) {
    return Describe(outcome.timeline, {"log"});
}

tarnsim::PortConfig Port(uint32_t com, uint32_t io = 0x3F8) {
    tarnsim::PortConfig port;
    port.com = com;
    port.io = std::vector<uint32_t>{io};
    return port;
}

tarnsim::Scenario With(const tarnsim::PortConfig& port) {
    tarnsim::Scenario scenario;
    scenario.ports.push_back(port);
    return scenario;
}

size_t Calls(const std::string& call) {
    return tarnos::CallTrace::Instance().Only({call}).size();
}

size_t RegisterAccesses() {
    return tarnos::CallTrace::Instance().Only({"PortReadByte", "PortWriteByte"}).size();
}

// The timeline of a run that ends at the screens or in the dispatcher, between the two progress texts.
std::vector<std::string> Framed(const std::string& portName, const std::vector<std::string>& middle,
                                unsigned portNumber) {
    std::vector<std::string> out = {"log 1 ==>PORT NUMBER: " + std::to_string(portNumber),
                                    "progress ValidityCheck {PortNumber:text=" + portName + "}", "percent 0"};
    out.insert(out.end(), middle.begin(), middle.end());
    out.push_back("progress TestComplete {PortNumber:text=" + portName + "}");
    out.push_back("percent 100");
    return out;
}

// Holds the module logger's level for one test and puts it back to 0.
class LoggerLevel {
public:
    explicit LoggerLevel(int level) {
        qen::LogFactory::createLogger("tarnserialport", m_logger);
        m_logger->setLevel(level);
    }
    ~LoggerLevel() { m_logger->setLevel(0); }
    LoggerLevel(const LoggerLevel&) = delete;
    LoggerLevel& operator=(const LoggerLevel&) = delete;

private:
    qen::Logger* m_logger = nullptr;
};

} // namespace

class Part3_1_Dispatcher : public tarntest::SimTest {
protected:
    // Runs RunTest on the scenario's first port for a test object of any ID (0 and 6 have no entry function).
    kivu5::RunOutcome RunWithId(int testID) {
        kivu5::RunOutcome outcome;
        Framework::beginRun();
        CSerialPortTest test(testID);
        outcome.result = test.RunTest(tarnsim::MakeDevice(Sim().GetScenario().ports.at(0)));
        outcome.timeline = Framework::timeline();
        return outcome;
    }
};

// Edge case: a device without "ComPortNumber" yields NODEVICE and one EnumerationError warning, with no
// ValidityCheck, no TestComplete and no percentage, whether or not it has "IoBaseAddresses".
TEST_F(Part3_1_Dispatcher, DeviceWithoutComPortNumberButWithIoBaseYieldsNoDeviceAndOneEnumerationError) {
    tarnsim::PortConfig port = Port(1);
    port.com.reset();
    port.name = "NOPORT";
    Use(With(port));
    for (const char* test : {"InternalRegisterTest", "ExternalLoopbackTest"}) {
        kivu5::RunOutcome outcome = Run(test);
        EXPECT_EQ(outcome.result, TestResult::NODEVICE());
        const std::vector<std::string> expected = {
            "log 3 Failed to enumerate serial port IO base address (NULL).",
            "event warning EnumerationError {}"};
        EXPECT_EQ(Said(outcome), expected) << test;
    }
    EXPECT_TRUE(Trace().empty()) << "no port wrapper was built: " << testing::PrintToString(Trace());
}

TEST_F(Part3_1_Dispatcher, DeviceWithoutComPortNumberAndWithoutIoBaseYieldsNoDeviceAndOneEnumerationError) {
    tarnsim::PortConfig port;
    port.name = "BARE";
    Use(With(port));
    kivu5::RunOutcome outcome = Run("ExternalRegisterTest");
    EXPECT_EQ(outcome.result, TestResult::NODEVICE());
    const std::vector<std::string> expected = {
        "log 3 Failed to enumerate serial port IO base address (NULL).", "event warning EnumerationError {}"};
    EXPECT_EQ(Said(outcome), expected);
    EXPECT_TRUE(tarntest::Percentages(outcome.timeline).empty());
    EXPECT_TRUE(Trace().empty());
}

// Edge case: a device without "IoBaseAddresses" raises no event and runs with the base 0xFF9D. The body of
// the internal register test answers NOTSUPPORTED for that base only, and touches no register.
TEST_F(Part3_1_Dispatcher, DeviceWithoutIoBaseAddressesRaisesNoEventAndRunsWithBase0xFF9D) {
    tarnsim::PortConfig port = Port(1);
    port.io.reset();
    Use(With(port));
    kivu5::RunOutcome outcome = Run("InternalRegisterTest");
    EXPECT_EQ(outcome.result, TestResult::NOTSUPPORTED());
    const std::vector<std::string> expected = {"log 3 Failed to enumerate serial port IO base address",
                                               "log 1 ==>NO base address present 2",
                                               "log 1 ==>PORT NUMBER: 1",
                                               "progress ValidityCheck {PortNumber:text=COM1}",
                                               "percent 0",
                                               "progress TestComplete {PortNumber:text=COM1}",
                                               "percent 100"};
    EXPECT_EQ(Said(outcome), expected);
    EXPECT_EQ(RegisterAccesses(), 0u);
    EXPECT_EQ(Calls("CreateFileW"), 1u) << "the dispatcher opened the port for the body";
}

// Edge case: one with an empty array raises one EnumerationError warning and runs with the same base.
TEST_F(Part3_1_Dispatcher, DeviceWithEmptyIoBaseArrayRaisesOneEnumerationErrorAndRunsWithBase0xFF9D) {
    tarnsim::PortConfig port = Port(1);
    port.io = std::vector<uint32_t>{};
    Use(With(port));
    kivu5::RunOutcome outcome = Run("InternalRegisterTest");
    EXPECT_EQ(outcome.result, TestResult::NOTSUPPORTED());
    const std::vector<std::string> expected = {"log 3 Failed to enumerate serial port IO base address",
                                               "event warning EnumerationError {}",
                                               "log 1 ==>NO base address present 1",
                                               "log 1 ==>PORT NUMBER: 1",
                                               "progress ValidityCheck {PortNumber:text=COM1}",
                                               "percent 0",
                                               "progress TestComplete {PortNumber:text=COM1}",
                                               "percent 100"};
    EXPECT_EQ(Said(outcome), expected);
    EXPECT_EQ(RegisterAccesses(), 0u);
}

TEST_F(Part3_1_Dispatcher, OnlyElementZeroOfIoBaseAddressesIsUsed) {
    Use(With(Port(1, 0x3F8)));
    kivu5::DiagDevice device("COM1");
    device.setProperty("ComPortNumber", kivu5::Value::Uint32(1));
    device.setProperty("IoBaseAddresses", kivu5::Value::Uint32Array({0x3F8, 0x2F8}));
    EXPECT_EQ(Run("InternalRegisterTest", device).result, TestResult::PASS());
    for (const std::string& access : RegisterTrace()) {
        EXPECT_EQ(access.substr(2, 4), "0x3F") << access;
    }
}

// Edge case: a port number or I/O base address wider than 16 bits is cut to its low 16 bits, in the log and
// in the wrapper alike.
TEST_F(Part3_1_Dispatcher, PortNumberAndIoBaseWiderThan16BitsAreCutInLogAndWrapper) {
    Use(With(Port(3, 0x3F8)));
    kivu5::DiagDevice device("COM3");
    device.setProperty("ComPortNumber", kivu5::Value::Uint32(0x10003));
    device.setProperty("IoBaseAddresses", kivu5::Value::Uint32Array({0x103F8}));
    kivu5::RunOutcome outcome = Run("InternalRegisterTest", device);
    EXPECT_EQ(outcome.result, TestResult::PASS());
    EXPECT_EQ(Said(outcome), Framed("COM3", {}, 3));
    const std::vector<std::string> opens = Trace({"CreateFileW"});
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].rfind(R"(CreateFileW(L"\\.\COM3", )", 0), 0u) << opens[0];
    // The body reads offsets 7 down to 0 at the cut base (the probe of the standard base 0x3F8 comes first).
    const std::vector<std::string> accesses = RegisterTrace();
    ASSERT_GE(accesses.size(), 8u);
    const std::vector<std::string> body(accesses.end() - 8, accesses.end());
    const std::vector<std::string> expectedAddresses = {"R 0x3FF", "R 0x3FE", "R 0x3FD", "R 0x3FC",
                                                        "R 0x3FB", "R 0x3FA", "R 0x3F9", "R 0x3F8"};
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(body[i].substr(0, 7), expectedAddresses[i]);
    }
}

// A port number of 0x1FFFF is cut to 0xFFFF, the invalid port number: the wrapper takes it, Open asserts
// (Part 4.2) and the AssertionFailure leaves RunTest without TestComplete.
TEST_F(Part3_1_Dispatcher, PortNumberCutTo0xFFFFEndsTheRunWithTheOpenAssertionAndNoTestComplete) {
    Use(With(Port(1)));
    kivu5::DiagDevice device("COM65535");
    device.setProperty("ComPortNumber", kivu5::Value::Uint32(0x1FFFF));
    kivu5::RunOutcome outcome = Run("InternalRegisterTest", device);
    EXPECT_EQ(outcome.result, TestResult::EXITEDABNORMALLY());
    EXPECT_NE(outcome.exceptionMessage.find("m_PortNumber != INVALID_PORT_NUMBER"), std::string::npos)
        << outcome.exceptionMessage;
    const std::vector<std::string> expected = {
        "log 3 Failed to enumerate serial port IO base address", "log 1 ==>NO base address present 2",
        "log 1 ==>PORT NUMBER: 65535", "progress ValidityCheck {PortNumber:text=COM65535}", "percent 0"};
    EXPECT_EQ(Said(outcome), expected);
    EXPECT_EQ(Calls("CreateFileW"), 0u);
}

// Golden timeline of a passing run, with the trace scopes at priority 1.
TEST_F(Part3_1_Dispatcher, PassingRunShowsValidityCheckAt0AndTestCompleteAt100AroundTheBody) {
    Use(tarnsim::Scenario::BuiltIn());
    kivu5::RunOutcome outcome = Run("InternalRegisterTest");
    EXPECT_EQ(outcome.result, TestResult::PASS());
    const std::vector<std::string> expected = {"trace -> InternalRegisterTest",
                                               "trace -> RunTest",
                                               "log 1 ==>PORT NUMBER: 1",
                                               "progress ValidityCheck {PortNumber:text=COM1}",
                                               "percent 0",
                                               "progress TestComplete {PortNumber:text=COM1}",
                                               "percent 100",
                                               "trace <- RunTest",
                                               "trace <- InternalRegisterTest"};
    EXPECT_EQ(Describe(outcome.timeline), expected);
    EXPECT_EQ(Calls("CreateFileW"), 1u);
    EXPECT_EQ(Calls("CloseHandle"), 1u);
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
}

// Edge case: a port that IsPortTestable refuses yields NOTSUPPORTED and NotTestable; TestComplete still shows
// with percentDone(100), and the dispatcher never opens the port (the external screen opens it once).
TEST_F(Part3_1_Dispatcher, NotTestablePortYieldsNotSupportedWithTestCompleteAndNoDispatcherOpen) {
    tarnsim::PortConfig parallel = Port(1);
    parallel.os.provSubType = 2; // PST_PARALLELPORT
    Use(With(parallel));
    StopAfterChecks(0); // a stop request is never looked at: the screen ends the run first
    kivu5::RunOutcome outcome = Run("ExternalRegisterTest");
    EXPECT_EQ(outcome.result, TestResult::NOTSUPPORTED());
    EXPECT_EQ(
        Said(outcome),
        Framed("COM1",
               {"event informative NotTestable {PortNumber:text=COM1}", "log 2 Port COM1: Not testable"}, 1));
    EXPECT_EQ(Calls("CreateFileW"), 1u) << "only the testability screen opened it";
    EXPECT_EQ(Framework::stopChecks(), 0u);

    tarnsim::PortConfig infrared = Port(1);
    infrared.uart.model = tarnsim::UartConfig::Model::NsBanked;
    infrared.uart.ircr = 0x0C;
    Use(With(infrared));
    outcome = Run("InternalControlSignalsTest");
    EXPECT_EQ(outcome.result, TestResult::NOTSUPPORTED());
    EXPECT_EQ(
        Said(outcome),
        Framed("COM1",
               {"event informative NotTestable {PortNumber:text=COM1}", "log 2 Port COM1: Not testable"}, 1));
    EXPECT_EQ(Calls("CreateFileW"), 0u);
}

// Edge case: a port on which DetectModem answers true yields CANNOTRUN and NotTestable, with TestComplete.
TEST_F(Part3_1_Dispatcher, ModemDetectedYieldsCannotRunWithTestCompleteAndNoDispatcherOpen) {
    tarnsim::PortConfig modem = Port(4);
    modem.attached = tarnsim::AttachedConfig::Modem();
    Use(With(modem));
    StopAfterChecks(0);
    kivu5::RunOutcome outcome = Run("ExternalLoopbackTest");
    EXPECT_EQ(outcome.result, TestResult::CANNOTRUN());
    EXPECT_EQ(Said(outcome), Framed("COM4",
                                    {"event informative NotTestable {PortNumber:text=COM4}",
                                     "log 2 Port COM4: Modem detected."},
                                    4));
    EXPECT_EQ(Calls("CreateFileW"), 2u) << "the two screens opened it, the dispatcher did not";
    EXPECT_EQ(Framework::stopChecks(), 0u);
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
}

// Edge case: a stop request yields USERABORTED, with TestComplete and percentDone(100), no event, no open.
TEST_F(Part3_1_Dispatcher, StopRequestYieldsUserAbortedWithTestCompleteAndNoOpen) {
    Use(tarnsim::Scenario::BuiltIn());
    StopAfterChecks(0);
    kivu5::RunOutcome outcome = Run("InternalRegisterTest");
    EXPECT_EQ(outcome.result, TestResult::USERABORTED());
    EXPECT_EQ(Said(outcome), Framed("COM1", {"log 2 Port COM1: User aborted"}, 1));
    EXPECT_EQ(Calls("CreateFileW"), 0u);
    EXPECT_EQ(Framework::stopChecks(), 1u);

    Use(tarnsim::Scenario::BuiltIn());
    outcome = Run("ExternalRegisterTest");
    EXPECT_EQ(outcome.result, TestResult::USERABORTED());
    EXPECT_EQ(Said(outcome), Framed("COM1", {"log 2 Port COM1: User aborted"}, 1));
    EXPECT_EQ(Calls("CreateFileW"), 2u) << "the screens only";
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
}

// Edge case: the stop request is looked at once, after the screening and before Open.
TEST_F(Part3_1_Dispatcher, StopRequestIsLookedAtOnceAfterTheScreensAndBeforeOpen) {
    Use(tarnsim::Scenario::BuiltIn());
    size_t traceAtCheck = 0;
    unsigned checks = 0;
    Framework::hooks().stopRequested = [&] {
        ++checks;
        traceAtCheck = tarnos::CallTrace::Instance().Entries().size();
        return false;
    };
    kivu5::RunOutcome outcome = RunWithId(0); // no body, so every check is the dispatcher's
    EXPECT_EQ(outcome.result, TestResult::INTERNALERROR());
    EXPECT_EQ(checks, 1u);
    const std::vector<tarnos::TraceEntry>& trace = tarnos::CallTrace::Instance().Entries();
    ASSERT_GT(traceAtCheck, 0u);
    ASSERT_LT(traceAtCheck, trace.size());
    EXPECT_EQ(trace[traceAtCheck - 1].call, "CloseHandle") << "after the modem screen closed the port";
    EXPECT_EQ(trace[traceAtCheck].call, "wsprintfW") << "before the dispatcher's Open formats the name";
    EXPECT_EQ(trace[traceAtCheck + 1].call, "CreateFileW");
}

// Edge case: with mtestID 0 or 6 on an openable port, the result is INTERNALERROR, the port is opened and
// closed again, and TestComplete is shown.
TEST_F(Part3_1_Dispatcher, TestIds0And6GiveInternalErrorAfterOpeningAndClosingThePort) {
    for (int id : {0, 6}) {
        Use(tarnsim::Scenario::BuiltIn());
        kivu5::RunOutcome outcome = RunWithId(id);
        EXPECT_EQ(outcome.result, TestResult::INTERNALERROR()) << id;
        EXPECT_EQ(Said(outcome),
                  Framed("COM1", {"log 3 No test is supported by mtestID: " + std::to_string(id)}, 1));
        const std::vector<std::string> calls = Trace();
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[calls.size() - 2].rfind(R"(CreateFileW(L"\\.\COM1", )", 0), 0u)
            << calls[calls.size() - 2];
        EXPECT_EQ(calls.back().rfind("CloseHandle(", 0), 0u) << calls.back();
        EXPECT_EQ(calls.back().substr(calls.back().size() - 4), "TRUE");
        EXPECT_EQ(Sim().OpenHandleCount(), 0u);
        EXPECT_EQ(RegisterAccesses(), 0u);
    }
}

TEST_F(Part3_1_Dispatcher, UnknownTestIdIsLoggedAsSignedDecimal) {
    Use(tarnsim::Scenario::BuiltIn());
    kivu5::RunOutcome outcome = RunWithId(-7);
    EXPECT_EQ(outcome.result, TestResult::INTERNALERROR());
    EXPECT_EQ(tarntest::Count(outcome.timeline, "log 3 No test is supported by mtestID: -7"), 1u);
}

// Failure table: the port cannot be opened. ReportOpenFailure's events, then "Port COM1can't open port." at
// priority 3 (no separator), CANNOTRUN; the dispatcher reports every code, 2 included.
TEST_F(Part3_1_Dispatcher, OpenFailureYieldsCannotRunWithUnableToOpenPortAndCantOpenPortLog) {
    for (uint32_t code : {32u, 2u}) {
        tarnsim::PortConfig busy = Port(1);
        busy.os.openError = code;
        Use(With(busy));
        kivu5::RunOutcome outcome = Run("InternalRegisterTest");
        EXPECT_EQ(outcome.result, TestResult::CANNOTRUN());
        const std::string description = Sim().SystemErrorText(code);
        EXPECT_EQ(Said(outcome),
                  Framed("COM1",
                         {"event warning UnableToOpenPort {PortNumber:text=COM1, ErrorDescription:text=" +
                              description + "}",
                          "log 3 Unable to open port:COM1", "log 3 Port COM1can't open port."},
                         1));
        EXPECT_EQ(Calls("CreateFileW"), 1u);
    }
}

TEST_F(Part3_1_Dispatcher, AccessDeniedOpenAlsoRaisesAccessDeniedFailureBeforeTheCantOpenLog) {
    tarnsim::PortConfig denied = Port(2);
    denied.os.openError = 5;
    Use(With(denied));
    kivu5::RunOutcome outcome = Run("InternalControlSignalsTest");
    EXPECT_EQ(outcome.result, TestResult::CANNOTRUN());
    EXPECT_EQ(
        Said(outcome),
        Framed("COM2",
               {"event warning UnableToOpenPort {PortNumber:text=COM2, ErrorDescription:text=" +
                    Sim().SystemErrorText(5) + "}",
                "log 3 Unable to open port:COM2", "event warning AccessDeniedFailure {PortNumber:text=COM2}",
                "log 3 Access denied failure", "log 3 Port COM2can't open port."},
               2));
}

// Part 1.2 rule 2 with the priorities of the failure table: 1 detail, 2 refused or stopped, 3 setup failures.
TEST_F(Part3_1_Dispatcher, MessagesAreLoggedOnlyAtOrAboveTheGlobalPriority) {
    tarnsim::PortConfig denied = Port(1);
    denied.os.openError = 5;
    const std::vector<std::string> setupFailures = {
        "log 3 Unable to open port:COM1", "log 3 Access denied failure", "log 3 Port COM1can't open port."};
    std::vector<std::string> all = {"log 1 ==>PORT NUMBER: 1"};
    all.insert(all.end(), setupFailures.begin(), setupFailures.end());
    for (int priority : {1, 2, 3, 4}) {
        Use(With(denied));
        qen::LoggerPriority::LOGGER_PRIORITY = priority;
        kivu5::RunOutcome outcome = Run("InternalRegisterTest");
        EXPECT_EQ(outcome.result, TestResult::CANNOTRUN());
        const std::vector<std::string> expected = priority == 1   ? all
                                                  : priority <= 3 ? setupFailures
                                                                  : std::vector<std::string>{};
        EXPECT_EQ(Logs(outcome), expected) << "global priority " << priority;
        EXPECT_EQ(Describe(outcome.timeline, {"trace"}).empty(), priority > 1);
    }

    tarnsim::PortConfig parallel = Port(1);
    parallel.os.provSubType = 2;
    for (int priority : {2, 3}) {
        Use(With(parallel));
        qen::LoggerPriority::LOGGER_PRIORITY = priority;
        kivu5::RunOutcome outcome = Run("ExternalLoopbackTest");
        EXPECT_EQ(Logs(outcome), priority == 2 ? std::vector<std::string>{"log 2 Port COM1: Not testable"}
                                               : std::vector<std::string>{});
    }

    tarnsim::PortConfig noBase = Port(1);
    noBase.io.reset();
    Use(With(noBase));
    qen::LoggerPriority::LOGGER_PRIORITY = 3;
    EXPECT_EQ(Logs(Run("InternalRegisterTest")),
              std::vector<std::string>{"log 3 Failed to enumerate serial port IO base address"});
}

// Rule 2's second half: the logger's own level must be below the message's priority.
TEST_F(Part3_1_Dispatcher, MessagesAreLoggedOnlyAboveTheLoggersLevel) {
    tarnsim::PortConfig denied = Port(1);
    denied.os.openError = 5;
    Use(With(denied));
    LoggerLevel level(2);
    kivu5::RunOutcome outcome = Run("InternalRegisterTest");
    const std::vector<std::string> expected = {
        "log 3 Unable to open port:COM1", "log 3 Access denied failure", "log 3 Port COM1can't open port."};
    EXPECT_EQ(Logs(outcome), expected);
    EXPECT_TRUE(Describe(outcome.timeline, {"trace"}).empty())
        << "rule 1: no trace with a logger level of 1 or more";
}

// Failure table: the kernel-mode driver is not open. The qen::Exception "TARN Driver not installed!" leaves
// the entry function before any progress; the framework reports EXITEDABNORMALLY with its message.
TEST_F(Part3_1_Dispatcher, DriverNotInstalledLeavesTheEntryFunctionBeforeAnyProgress) {
    tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
    scenario.driverInstalled = false;
    Use(scenario);
    kivu5::RunOutcome outcome = Run("ExternalRegisterTest");
    EXPECT_EQ(outcome.result, TestResult::EXITEDABNORMALLY());
    EXPECT_TRUE(outcome.exception);
    EXPECT_EQ(outcome.exceptionMessage, "TARN Driver not installed!");
    EXPECT_EQ(Said(outcome), std::vector<std::string>{"log 1 ==>PORT NUMBER: 1"});
    EXPECT_EQ(Trace().size(), 1u);
    EXPECT_EQ(Trace()[0].rfind("DriverOpened(", 0), 0u);
    EXPECT_EQ(Trace()[0].substr(Trace()[0].size() - 4), "-> 0");
    EXPECT_EQ(Calls("CreateFileW"), 0u);
}

// Edge case: the PortNumber variable of ValidityCheck, NotTestable and TestComplete carries the port's name.
TEST_F(Part3_1_Dispatcher, PortNumberVariablesCarryThePortNameAsText) {
    tarnsim::PortConfig port = Port(3);
    port.os.provSubType = 6;
    Use(With(port));
    kivu5::RunOutcome outcome = Run("ExternalRegisterTest");
    size_t seen = 0;
    for (const kivu5::TimelineEntry& e : outcome.timeline) {
        for (const kivu5::VariableRecord& v : e.vars) {
            if (v.name == "PortNumber") {
                ++seen;
                EXPECT_EQ(v.value.kind(), kivu5::DataType::Text) << Describe(e);
                EXPECT_EQ(v.value.text(), "COM3") << Describe(e);
            }
        }
    }
    EXPECT_EQ(seen, 3u) << "ValidityCheck, NotTestable and TestComplete";
}

// The dispatch table: each ID runs its own body (a signature of each body in the trace or timeline).
TEST_F(Part3_1_Dispatcher, EachTestIdRunsTheBodyOfTheDispatchTable) {
    auto firstAccessAfterOpen = [] {
        const std::vector<tarnos::TraceEntry>& trace = tarnos::CallTrace::Instance().Entries();
        bool opened = false;
        for (const tarnos::TraceEntry& e : trace) {
            opened = opened || e.call == "CreateFileW";
            if (opened && (e.call == "PortReadByte" || e.call == "PortWriteByte")) {
                return e.ToString();
            }
        }
        return std::string("none");
    };
    Use(tarnsim::Scenario::BuiltIn());
    Run("InternalControlSignalsTest"); // Part 5.2 starts by reading the MCR
    EXPECT_EQ(firstAccessAfterOpen().rfind("PortReadByte(0x3FC)", 0), 0u) << firstAccessAfterOpen();

    Use(tarnsim::Scenario::BuiltIn());
    Run("InternalRegisterTest"); // Part 5.1 starts with the scratch register
    EXPECT_EQ(firstAccessAfterOpen().rfind("PortReadByte(0x3FF)", 0), 0u) << firstAccessAfterOpen();

    tarnsim::Scenario noRates = tarnsim::Scenario::BuiltIn();
    noRates.ports[0].os.settableBaud = 0; // Part 5.3 then skips every row without a register access
    Use(noRates);
    kivu5::RunOutcome outcome = Run("InternalSendAndReceiveTest");
    EXPECT_EQ(tarntest::Count(outcome.timeline, "progress PrgsSendReceive {BaudRate:uint=1200}"), 1u);

    Use(tarnsim::Scenario::BuiltIn());
    SetParameter("BaudRates", kivu5::Value::Uint32Array({9600}));
    outcome = Run("ExternalLoopbackTest");
    EXPECT_EQ(tarntest::Count(outcome.timeline, "progress LoopbackProgress {BaudRate:int=9600}"), 2u);

    Use(tarnsim::Scenario::BuiltIn());
    outcome = Run("ExternalRegisterTest");
    EXPECT_EQ(Calls("GetCommModemStatus"), 4u) << "Part 5.4's four steps";
    EXPECT_EQ(tarntest::Count(outcome.timeline, "progress LoopbackProgress {BaudRate:int=9600}"), 0u);
}
