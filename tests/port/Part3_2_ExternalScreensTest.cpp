// Part 3.2: the screens of the external tests (every ID but 1, 2 and 3) through the operating system: the
// provider subtype, the quiet and the reported open failures, and the modem check with "AT\r" in virtual
// time. Also DetectModem and IsInfraredMode for the internal tests, called directly.
#include "support/SimFixture.h"
#include "support/Timeline.h"

#include "SerialPortTest.h"

#include "os/TarnKernelModeServices.h"

#include <string>
#include <vector>

using kivu5::Framework;
using kivu5::TestResult;
using tarntest::Describe;

// The test suite's window on the private members of CSerialPortTest (SerialPortTest.h names it a friend).
class CSerialPortTestAccess {
public:
    static bool IsPortTestable(CSerialPortTest& test, CSerialPort& port) { return test.IsPortTestable(port); }
    static bool IsInfraredMode(CSerialPortTest& test, CSerialPort& port) { return test.IsInfraredMode(port); }
    static bool DetectModem(CSerialPortTest& test, CSerialPort& port) { return test.DetectModem(port); }
    static void ReportOpenFailure(CSerialPortTest& test, CSerialPort& port) { test.ReportOpenFailure(port); }
};

namespace {

tarnsim::PortConfig Port(uint32_t com = 1) {
    tarnsim::PortConfig port;
    port.com = com;
    port.io = std::vector<uint32_t>{0x3F8};
    return port;
}

tarnsim::Scenario With(const tarnsim::PortConfig& port) {
    tarnsim::Scenario scenario;
    scenario.ports.push_back(port);
    return scenario;
}

std::vector<std::string> Said(const kivu5::RunOutcome& outcome) {
    return Describe(outcome.timeline, {"event", "progress", "percent", "log", "prompt"});
}

std::vector<std::string> CallNames() {
    std::vector<std::string> out;
    for (const tarnos::TraceEntry& e : tarnos::CallTrace::Instance().Entries()) {
        if (e.call != "wsprintfW") {
            out.push_back(e.call);
        }
    }
    return out;
}

size_t Calls(const std::string& call) {
    return tarnos::CallTrace::Instance().Only({call}).size();
}

// "CreateFileW(...) -> 0x1000" gives "0x1000".
std::string HandleOfFirstOpen() {
    const std::vector<tarnos::TraceEntry> opens = tarnos::CallTrace::Instance().Only({"CreateFileW"});
    return opens.empty() ? "none" : opens.front().result;
}

const std::string OPEN_COM1 = R"(CreateFileW(L"\\.\COM1", 0xC0000000, 0, NULL, 3, 0, NULL) -> )";

} // namespace

class Part3_2_ExternalPortScreening : public tarntest::SimTest {
protected:
    // A test object of the ID (which sets mtestID) and the run's port, with the trace of their making
    // cleared.
    void Make(int testID, unsigned short portNumber = 1, unsigned short base = 0x3F8) {
        m_test.reset(new CSerialPortTest(testID));
        m_port.reset(new CSerialPort(portNumber, base));
        tarnos::CallTrace::Instance().Clear();
        Framework::beginRun();
        m_startUs = Sim().Clock().NowUs();
    }
    bool IsPortTestable() { return CSerialPortTestAccess::IsPortTestable(*m_test, *m_port); }
    bool DetectModem() { return CSerialPortTestAccess::DetectModem(*m_test, *m_port); }
    double MsSinceMake() { return static_cast<double>(Sim().Clock().NowUs() - m_startUs) / 1000.0; }
    std::vector<std::string> SaidSinceMake() {
        return Describe(Framework::timeline(), {"event", "progress", "percent", "log", "prompt"});
    }

    std::unique_ptr<CSerialPortTest> m_test;
    std::unique_ptr<CSerialPort> m_port;
    uint64_t m_startUs = 0;
};

// Edge case: an external test on a port whose driver reports provider subtype 6 (modem): not testable.
TEST_F(Part3_2_ExternalPortScreening, ExternalTestOnProviderSubtype6ModemIsNotTestable) {
    tarnsim::PortConfig modem = Port();
    modem.os.provSubType = 6;
    Use(With(modem));
    kivu5::RunOutcome outcome = Run("ExternalRegisterTest");
    EXPECT_EQ(outcome.result, TestResult::NOTSUPPORTED());
    EXPECT_EQ(tarntest::EventNames(outcome.timeline), std::vector<std::string>{"NotTestable"});
    const std::string h = HandleOfFirstOpen();
    const std::vector<std::string> expected = {
        OPEN_COM1 + h, "GetCommProperties(" + h + ", ptr) -> TRUE subtype=6 settable=0x7FB50",
        "CloseHandle(" + h + ") -> TRUE"};
    EXPECT_EQ(Trace({"CreateFileW", "GetCommProperties", "CloseHandle", "WriteFile"}), expected);

    Make(5);
    EXPECT_FALSE(IsPortTestable());
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
}

// Edge case: subtype 3 (RS-422): testable; and the whole table of subtypes.
TEST_F(Part3_2_ExternalPortScreening, ExternalTestOnProviderSubtype3IsTestable) {
    tarnsim::PortConfig rs422 = Port();
    rs422.os.provSubType = 3;
    Use(With(rs422));
    Make(5);
    EXPECT_TRUE(IsPortTestable());
    const std::string h = HandleOfFirstOpen();
    const std::vector<std::string> expected = {
        OPEN_COM1 + h, "GetCommProperties(" + h + ", ptr) -> TRUE subtype=3 settable=0x7FB50",
        "CloseHandle(" + h + ") -> TRUE"};
    EXPECT_EQ(Trace({"CreateFileW", "GetCommProperties", "CloseHandle"}), expected);
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"CreateFileW", "GetCommProperties", "CloseHandle"}));
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);

    for (uint32_t subtype : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 0x21u, 0x102u}) {
        Use(With(Port()));
        Sim().Os(0).provSubType = subtype;
        for (int id : {4, 5, 0}) {
            Make(id);
            EXPECT_EQ(IsPortTestable(), subtype == 1 || subtype == 3 || subtype == 4 || subtype == 5)
                << "subtype " << subtype << ", ID " << id;
            EXPECT_EQ(Sim().OpenHandleCount(), 0u);
        }
    }
}

// A failed GetCommProperties leaves the preset 0 (unspecified): not testable, and the port is closed.
TEST_F(Part3_2_ExternalPortScreening, ExternalTestWhosePropertiesCannotBeReadIsNotTestable) {
    tarnsim::PortConfig port = Port();
    port.os.fail = {"GetCommProperties"};
    Use(With(port));
    Make(4);
    EXPECT_FALSE(IsPortTestable());
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"CreateFileW", "GetCommProperties", "CloseHandle"}));
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
}

// Failure table: Open fails with code 2 or 31: not testable, nothing reported.
TEST_F(Part3_2_ExternalPortScreening, ExternalOpenFailingWithFileNotFoundOrGeneralFailureIsQuiet) {
    for (uint32_t code : {2u, 31u}) {
        tarnsim::PortConfig port = Port();
        port.os.openError = code;
        Use(With(port));
        kivu5::RunOutcome outcome = Run("ExternalLoopbackTest");
        EXPECT_EQ(outcome.result, TestResult::NOTSUPPORTED()) << code;
        EXPECT_EQ(tarntest::EventNames(outcome.timeline), std::vector<std::string>{"NotTestable"}) << code;
        EXPECT_EQ(tarntest::Count(outcome.timeline, "log 3 Unable to open port:COM1"), 0u);
        EXPECT_EQ(Trace({"CreateFileW", "GetLastError"}),
                  (std::vector<std::string>{OPEN_COM1 + "INVALID_HANDLE_VALUE",
                                            "GetLastError() -> " + std::to_string(code)}));
    }
}

// Edge case: an external test whose Open fails with ERROR_ACCESS_DENIED: not testable, and the two warnings
// UnableToOpenPort and AccessDeniedFailure are raised in that order.
TEST_F(Part3_2_ExternalPortScreening,
       ExternalOpenFailingWithAccessDeniedRaisesUnableToOpenPortThenAccessDeniedFailure) {
    tarnsim::PortConfig port = Port();
    port.os.openError = 5;
    Use(With(port));
    kivu5::RunOutcome outcome = Run("ExternalRegisterTest");
    EXPECT_EQ(outcome.result, TestResult::NOTSUPPORTED());
    const std::string description = Sim().SystemErrorText(5);
    ASSERT_FALSE(description.empty());
    const std::vector<std::string> expected = {
        "log 1 ==>PORT NUMBER: 1",
        "progress ValidityCheck {PortNumber:text=COM1}",
        "percent 0",
        "event warning UnableToOpenPort {PortNumber:text=COM1, ErrorDescription:text=" + description + "}",
        "log 3 Unable to open port:COM1",
        "event warning AccessDeniedFailure {PortNumber:text=COM1}",
        "log 3 Access denied failure",
        "event informative NotTestable {PortNumber:text=COM1}",
        "log 2 Port COM1: Not testable",
        "progress TestComplete {PortNumber:text=COM1}",
        "percent 100"};
    EXPECT_EQ(Said(outcome), expected);
    // The reason is read right after the failed Open, by the screen and by ReportOpenFailure.
    EXPECT_EQ(Trace(), (std::vector<std::string>{
                           "DriverOpened(" + tarnos::Hex(TarnKernelModeServices::TARNSRVC_KEY) + ") -> 1",
                           R"(wsprintfW(L"\\.\COM%i") -> L"\\.\COM1")", OPEN_COM1 + "INVALID_HANDLE_VALUE",
                           "GetLastError() -> 5", "GetLastError() -> 5"}));
}

TEST_F(Part3_2_ExternalPortScreening, ExternalOpenFailingWithAnyOtherCodeRaisesUnableToOpenPortOnly) {
    tarnsim::PortConfig port = Port(7);
    port.os.openError = 32; // ERROR_SHARING_VIOLATION
    Use(With(port));
    kivu5::RunOutcome outcome = Run("ExternalLoopbackTest");
    EXPECT_EQ(outcome.result, TestResult::NOTSUPPORTED());
    EXPECT_EQ(tarntest::EventNames(outcome.timeline),
              (std::vector<std::string>{"UnableToOpenPort", "NotTestable"}));
    EXPECT_EQ(tarntest::Count(outcome.timeline, "event warning UnableToOpenPort {PortNumber:text=COM7, "
                                                "ErrorDescription:text=" +
                                                    Sim().SystemErrorText(32) + "}"),
              1u);
    EXPECT_EQ(tarntest::Count(outcome.timeline, "log 3 Unable to open port:COM7"), 1u);
    EXPECT_EQ(tarntest::Count(outcome.timeline, "log 3 Access denied failure"), 0u);
}

// DetectModem's own Open: the same quiet codes and the same report.
TEST_F(Part3_2_ExternalPortScreening, DetectModemOpenFailureIsQuietFor2And31AndReportedOtherwise) {
    for (uint32_t code : {2u, 31u, 5u}) {
        Use(With(Port()));
        Sim().Os(0).openError = code;
        Make(4);
        EXPECT_FALSE(DetectModem()) << code;
        const std::vector<std::string> reported =
            code == 5 ? std::vector<std::string>{"event warning UnableToOpenPort {PortNumber:text=COM1, "
                                                 "ErrorDescription:text=" +
                                                     Sim().SystemErrorText(5) + "}",
                                                 "log 3 Unable to open port:COM1",
                                                 "event warning AccessDeniedFailure {PortNumber:text=COM1}",
                                                 "log 3 Access denied failure"}
                      : std::vector<std::string>{};
        EXPECT_EQ(SaidSinceMake(), reported) << code;
        EXPECT_EQ(Calls("WriteFile"), 0u);
    }
}

// Edge case: a modem that answers "OK\r" to the first "AT\r": true after one attempt (one 350 ms wait).
TEST_F(Part3_2_ExternalPortScreening, ModemAnsweringOkIsFoundAfterOneAttemptWithOne350MsWait) {
    tarnsim::PortConfig port = Port();
    port.attached = tarnsim::AttachedConfig::Modem();
    port.os.baud = 19200;
    Use(With(port));
    Make(5);
    EXPECT_TRUE(DetectModem());
    const std::string h = HandleOfFirstOpen();
    const std::vector<std::string> exchange = {"WriteFile(" + h + ", ptr, 3, ptr, NULL) -> TRUE written=3",
                                               "Sleep(350)",
                                               "ReadFile(" + h + ", ptr, 10, ptr, NULL) -> TRUE read=6"};
    EXPECT_EQ(Trace({"WriteFile", "Sleep", "ReadFile"}), exchange);
    EXPECT_EQ(Sim().CurrentBaud(0), 19200u) << "the previous rate is put back";
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_EQ(CallNames().back(), "CloseHandle");
    EXPECT_TRUE(SaidSinceMake().empty()) << "the screen raises no event itself";
}

TEST_F(Part3_2_ExternalPortScreening, ModemAnsweringErrorIsFoundToo) {
    tarnsim::PortConfig port = Port();
    port.attached = tarnsim::AttachedConfig::ModemError();
    Use(With(port));
    Make(4);
    EXPECT_TRUE(DetectModem());
    EXPECT_EQ(Trace({"Sleep"}), std::vector<std::string>{"Sleep(350)"});
}

// Edge case: no answer at all: two attempts (waits of 350 ms and 450 ms), false; the port is put back to its
// previous rate and closed.
TEST_F(Part3_2_ExternalPortScreening, NoAnswerTakesTwoAttemptsOf350And450MsThenRestoresTheRateAndCloses) {
    tarnsim::PortConfig port = Port();
    port.os.baud = 19200;
    Use(With(port));
    Make(5);
    EXPECT_FALSE(DetectModem());
    const std::vector<std::string> names = {
        "CreateFileW",     "GetCommState",    "SetupComm",    "BuildCommDCBW", "SetCommState",
        "SetCommTimeouts", "WriteFile",       "Sleep",        "ReadFile",      "WriteFile",
        "Sleep",           "ReadFile",        "GetCommState", "SetupComm",     "BuildCommDCBW",
        "SetCommState",    "SetCommTimeouts", "CloseHandle"};
    EXPECT_EQ(CallNames(), names);
    EXPECT_EQ(Trace({"Sleep"}), (std::vector<std::string>{"Sleep(350)", "Sleep(450)"}));
    EXPECT_EQ(Trace({"BuildCommDCBW"}),
              (std::vector<std::string>{
                  R"(BuildCommDCBW(L"baud=9600 parity=N data=8 stop=1", {len=28}) -> TRUE)",
                  R"(BuildCommDCBW(L"baud=19200 parity=N data=8 stop=1", {len=28}) -> TRUE)"}));
    for (const std::string& write : Trace({"WriteFile"})) {
        EXPECT_NE(write.find(", ptr, 3, ptr, NULL) -> TRUE written=3"), std::string::npos) << write;
    }
    // 350 + 450 ms of waits, plus the line time of two three-byte writes at 9600 bit/s (about 3 ms each).
    EXPECT_GE(MsSinceMake(), 800.0);
    EXPECT_LT(MsSinceMake(), 810.0);
    EXPECT_EQ(Sim().CurrentBaud(0), 19200u);
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
}

// Edge case: an answer of exactly 10 bytes with no zero byte is searched within those 10 bytes only.
TEST_F(Part3_2_ExternalPortScreening, TenByteAnswerWithoutZeroByteIsSearchedWithinThoseTenBytesOnly) {
    tarnsim::PortConfig port = Port();
    port.attached.reply = std::string("12345678OK\r"); // "OK" in bytes 8 and 9, "\r" the 11th byte
    Use(With(port));
    Make(5);
    EXPECT_FALSE(DetectModem());
    // The device answers only "AT\r": ten bytes at each read show that both attempts wrote exactly that.
    const std::vector<std::string> reads = Trace({"ReadFile"});
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_NE(reads[0].find("read=10"), std::string::npos) << reads[0];
    EXPECT_NE(reads[1].find("read=10"), std::string::npos) << reads[1];

    Sim().Attached(0).reply = std::string("1234567OK\r"); // "OK\r" ends at the 10th byte
    Make(5);
    EXPECT_TRUE(DetectModem());
    EXPECT_EQ(Trace({"Sleep"}), std::vector<std::string>{"Sleep(350)"});
    EXPECT_NE(Trace({"ReadFile"}).at(0).find("read=10"), std::string::npos);
}

// The search stops at the first zero byte.
TEST_F(Part3_2_ExternalPortScreening, AnswerIsSearchedOnlyUpToItsFirstZeroByte) {
    tarnsim::PortConfig port = Port();
    port.attached.reply = std::string("AB\0OK\r", 6);
    Use(With(port));
    Make(4);
    EXPECT_FALSE(DetectModem());
    EXPECT_EQ(Trace({"Sleep"}), (std::vector<std::string>{"Sleep(350)", "Sleep(450)"}));
}

// Failure table: Configure at 9600 fails: true, the port closed, nothing written.
TEST_F(Part3_2_ExternalPortScreening, ConfigureAt9600FailingCountsAsModemAndClosesThePort) {
    tarnsim::PortConfig port = Port();
    port.os.failConfigureAt = {9600};
    Use(With(port));
    Make(5);
    EXPECT_TRUE(DetectModem());
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"CreateFileW", "GetCommState", "SetupComm",
                                                     "BuildCommDCBW", "SetCommState", "CloseHandle"}));
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);

    Use(With(Port()));
    Sim().Os(0).failConfigureAt = {9600};
    kivu5::RunOutcome outcome = Run("ExternalRegisterTest");
    EXPECT_EQ(outcome.result, TestResult::CANNOTRUN());
    EXPECT_EQ(tarntest::Count(outcome.timeline, "log 2 Port COM1: Modem detected."), 1u);
}

// Failure table: writing "AT\r" or reading the answer fails: true; the rate is put back and the port closed.
TEST_F(Part3_2_ExternalPortScreening, FailingOrShortWriteOrFailingReadCountsAsModem) {
    for (const char* failing : {"WriteFile", "ReadFile"}) {
        tarnsim::PortConfig port = Port();
        port.os.baud = 4800;
        port.os.fail = {failing};
        Use(With(port));
        Make(5);
        EXPECT_TRUE(DetectModem()) << failing;
        EXPECT_EQ(Calls("WriteFile"), 1u) << failing << ": the loop ends at the first failure";
        EXPECT_EQ(CallNames().back(), "CloseHandle");
        EXPECT_EQ(Sim().CurrentBaud(0), 4800u) << failing;
        EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    }
    tarnsim::PortConfig shortWrite = Port();
    shortWrite.attached.acceptPerWrite = 2u;
    Use(With(shortWrite));
    Make(4);
    EXPECT_TRUE(DetectModem()) << "2 bytes written of 3";
    EXPECT_EQ(Calls("Sleep"), 0u);
}

// Edge case: DetectModem for an internal test returns false without opening the port.
TEST_F(Part3_2_ExternalPortScreening, DetectModemForAnInternalTestReturnsFalseWithoutOpeningThePort) {
    tarnsim::PortConfig port = Port();
    port.attached = tarnsim::AttachedConfig::Modem();
    Use(With(port));
    for (int id : {1, 2, 3}) {
        Make(id);
        EXPECT_FALSE(DetectModem()) << id;
        EXPECT_TRUE(Trace().empty()) << id << ": " << testing::PrintToString(Trace());
    }
    Make(0); // "any other" ID: the modem is looked for
    EXPECT_TRUE(DetectModem());
}

// IsInfraredMode with NO_IO_BASE_ADDRESS: false without any register access.
TEST_F(Part3_2_ExternalPortScreening, InfraredProbeWithNoIoBaseAddressIsFalseWithoutRegisterAccess) {
    tarnsim::PortConfig port = Port();
    port.uart.model = tarnsim::UartConfig::Model::NsBanked;
    port.uart.ircr = 0x0C;
    Use(With(port));
    Make(2, 1, NO_IO_BASE_ADDRESS);
    EXPECT_FALSE(CSerialPortTestAccess::IsInfraredMode(*m_test, *m_port));
    EXPECT_TRUE(Trace().empty());
    EXPECT_TRUE(IsPortTestable());
    EXPECT_TRUE(Trace().empty());

    Make(2, 1, 0x3F8); // the same UART at its base: infrared
    EXPECT_TRUE(CSerialPortTestAccess::IsInfraredMode(*m_test, *m_port));
    EXPECT_FALSE(IsPortTestable());
}

// ReportOpenFailure reads GetLastError itself and raises the event with the port name and the system text.
TEST_F(Part3_2_ExternalPortScreening, ReportOpenFailureNamesThePortAndTheSystemsText) {
    tarnsim::PortConfig port = Port(12);
    port.os.openError = 5;
    Use(With(port));
    Make(4, 12);
    EXPECT_FALSE(m_port->Open());
    tarnos::CallTrace::Instance().Clear();
    CSerialPortTestAccess::ReportOpenFailure(*m_test, *m_port);
    EXPECT_EQ(
        SaidSinceMake(),
        (std::vector<std::string>{
            "event warning UnableToOpenPort {PortNumber:text=COM12, ErrorDescription:text=" +
                Sim().SystemErrorText(5) + "}",
            "log 3 Unable to open port:COM12", "event warning AccessDeniedFailure {PortNumber:text=COM12}",
            "log 3 Access denied failure"}));
    EXPECT_EQ(Trace(), std::vector<std::string>{"GetLastError() -> 5"});
}
