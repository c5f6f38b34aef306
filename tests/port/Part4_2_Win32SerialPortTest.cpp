// Part 4.2: the Win32 serial port. The exact calls of Open, Close and Configure with their fixed settings,
// the handle assertions before any Win32 call, the rate table of IsBaudRateSupported, Read and GetBaudRate,
// and the destructor closing an open handle.
#include "support/SimFixture.h"

#include "SerialPort.h"

#include <functional>
#include <string>
#include <vector>

namespace {

const char* const HANDLE_ASSERTION = "m_PortHandle != INVALID_HANDLE_VALUE";

tarnsim::Scenario OnePort(uint32_t com, uint32_t baud = 9600) {
    tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
    scenario.ports[0].com = com;
    scenario.ports[0].os.baud = baud;
    scenario.ports[0].attached = tarnsim::AttachedConfig::None();
    return scenario;
}

std::vector<std::string> CallNames() {
    std::vector<std::string> out;
    for (const tarnos::TraceEntry& e : tarnos::CallTrace::Instance().Entries()) {
        out.push_back(e.call);
    }
    return out;
}

// The DCB as the call trace writes it (framework/os/OsSeam.cpp).
std::string DcbText(const DCB& dcb) {
    auto d = [](unsigned value) { return std::to_string(value); };
    return "{len=" + d(dcb.DCBlength) + " baud=" + d(dcb.BaudRate) + " bits=" + d(dcb.ByteSize) +
           " parity=" + d(dcb.Parity) + " stop=" + d(dcb.StopBits) + " cts=" + d(dcb.fOutxCtsFlow) +
           " dsr=" + d(dcb.fOutxDsrFlow) + " null=" + d(dcb.fNull) + " dtr=" + d(dcb.fDtrControl) +
           " rts=" + d(dcb.fRtsControl) + "}";
}

// Expects the AssertionFailure of a closed port (or of port 0xFFFF) and no call at all through the seam.
void ExpectAssertionBeforeAnyCall(const std::function<void()>& operation, const std::string& expression,
                                  const std::string& what) {
    tarnos::CallTrace::Instance().Clear();
    bool thrown = false;
    try {
        operation();
    } catch (const qen::AssertionFailure& failure) {
        thrown = true;
        EXPECT_EQ(failure.getExpression(), expression) << what;
        EXPECT_EQ(failure.getSourceFile(), "SerialPort") << what;
        EXPECT_GT(failure.getLine(), 0u) << what;
    }
    EXPECT_TRUE(thrown) << what;
    EXPECT_TRUE(tarnos::CallTrace::Instance().Entries().empty())
        << what << ": " << testing::PrintToString(tarnos::CallTrace::Instance().Lines());
}

} // namespace

class Part4_2_Win32SerialPort : public tarntest::SimTest {
protected:
    // Builds the port object of the scenario's port and opens it; the trace starts after the open.
    CSerialPort& OpenPort(unsigned short portNumber = 1) {
        m_port.reset(new CSerialPort(portNumber, 0x3F8));
        EXPECT_TRUE(m_port->Open());
        m_handle = tarnos::CallTrace::Instance().Only({"CreateFileW"}).back().result;
        tarnos::CallTrace::Instance().Clear();
        return *m_port;
    }
    std::unique_ptr<CSerialPort> m_port;
    std::string m_handle;
};

// Edge case: port 10 opens as \\.\COM10, for reading and writing, exclusively, synchronously.
TEST_F(Part4_2_Win32SerialPort, Port10OpensAsDeviceCOM10WithExclusiveReadWriteAccess) {
    Use(OnePort(10));
    CSerialPort port(10, 0x3F8);
    tarnos::CallTrace::Instance().Clear();
    EXPECT_TRUE(port.Open());
    const std::vector<std::string> trace = Trace();
    ASSERT_EQ(trace.size(), 2u) << testing::PrintToString(trace);
    EXPECT_EQ(trace[0], R"(wsprintfW(L"\\.\COM%i") -> L"\\.\COM10")");
    const std::string open = R"(CreateFileW(L"\\.\COM10", 0xC0000000, 0, NULL, 3, 0, NULL) -> )";
    EXPECT_EQ(trace[1].substr(0, open.size()), open);
    EXPECT_NE(trace[1], open + "INVALID_HANDLE_VALUE");
    EXPECT_EQ(Sim().OpenHandleCount(), 1u);
}

TEST_F(Part4_2_Win32SerialPort, FailedOpenReturnsFalseAndLeavesThePortClosed) {
    tarnsim::Scenario scenario = OnePort(1);
    scenario.ports[0].os.openError = 2;
    Use(scenario);
    CSerialPort port(1, 0x3F8);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(Trace({"CreateFileW"}).back().substr(Trace({"CreateFileW"}).back().size() - 20),
              "INVALID_HANDLE_VALUE");
    ExpectAssertionBeforeAnyCall([&] { port.Configure(9600, nullptr); }, HANDLE_ASSERTION,
                                 "Configure after failed Open");
    tarnos::CallTrace::Instance().Clear();
    EXPECT_TRUE(port.Close());
    EXPECT_TRUE(Trace().empty());
}

// Open of port number 0xFFFF asserts "m_PortNumber != INVALID_PORT_NUMBER" before formatting or opening.
TEST_F(Part4_2_Win32SerialPort, OpenOfPort0xFFFFThrowsAssertionFailureBeforeAnyCall) {
    Use(OnePort(1));
    CSerialPort port(0xFFFF, 0x3F8);
    ExpectAssertionBeforeAnyCall([&] { port.Open(); }, "m_PortNumber != INVALID_PORT_NUMBER", "Open");
}

// Every operation that asserts the handle throws on a closed port before any Win32 call.
TEST_F(Part4_2_Win32SerialPort, EachHandleAssertingOperationOnAClosedPortThrowsBeforeAnyWin32Call) {
    Use(OnePort(1));
    CSerialPort port(1, 0x3F8);
    char buffer[8] = {};
    DWORD count = 0;
    DCB dcb = {};
    DWORD status = 0;
    COMMPROP properties = {};
    unsigned rate = 0;
    const std::vector<std::pair<std::string, std::function<void()>>> operations = {
        {"Configure with pointer", [&] { port.Configure(9600, &rate); }},
        {"Configure without pointer", [&] { port.Configure(9600, nullptr); }},
        {"Read", [&] { port.Read(buffer, sizeof buffer, &count); }},
        {"Write", [&] { port.Write(buffer, sizeof buffer, &count); }},
        {"GetState", [&] { port.GetState(&dcb); }},
        {"SetState", [&] { port.SetState(&dcb); }},
        {"GetModemStatus", [&] { port.GetModemStatus(&status); }},
        {"GetProperties", [&] { port.GetProperties(&properties); }},
        {"GetBaudRate", [&] { port.GetBaudRate(&rate); }},
        {"IsBaudRateSupported(9600)", [&] { port.IsBaudRateSupported(9600); }},
    };
    for (const auto& [what, operation] : operations) {
        ExpectAssertionBeforeAnyCall(operation, HANDLE_ASSERTION, what);
    }
    // Closed again after an open.
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(port.Close());
    for (const auto& [what, operation] : operations) {
        ExpectAssertionBeforeAnyCall(operation, HANDLE_ASSERTION, what + " after Close");
    }
}

// Edge case: Close on a closed port returns true and calls nothing.
TEST_F(Part4_2_Win32SerialPort, CloseOnAClosedPortReturnsTrueAndCallsNothing) {
    Use(OnePort(1));
    CSerialPort port(1, 0x3F8);
    tarnos::CallTrace::Instance().Clear();
    EXPECT_TRUE(port.Close());
    EXPECT_TRUE(Trace().empty());
}

TEST_F(Part4_2_Win32SerialPort, CloseCallsCloseHandleOnceAndReturnsItsSuccess) {
    Use(OnePort(1));
    CSerialPort& port = OpenPort();
    EXPECT_TRUE(port.Close());
    EXPECT_EQ(Trace(), std::vector<std::string>{"CloseHandle(" + m_handle + ") -> TRUE"});
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    tarnos::CallTrace::Instance().Clear();
    EXPECT_TRUE(port.Close());
    EXPECT_TRUE(Trace().empty());

    Sim().Os(0).fail = {"CloseHandle"};
    OpenPort();
    EXPECT_FALSE(m_port->Close()) << "CloseHandle's failure is returned";
    tarnos::CallTrace::Instance().Clear();
    EXPECT_TRUE(m_port->Close()) << "and the handle is invalid all the same";
    EXPECT_TRUE(Trace().empty());
}

// Configure: GetCommState with length 28, SetupComm 2048/2048, the frame text, the three flags cleared,
// SetCommState, then the five time-outs.
TEST_F(Part4_2_Win32SerialPort, ConfigureMakesTheExactCallSequenceWithTheFixedSettings) {
    Use(OnePort(1, 19200));
    CSerialPort& port = OpenPort();
    DCB flow = {};
    ASSERT_TRUE(port.GetState(&flow));
    flow.fOutxCtsFlow = 1;
    flow.fOutxDsrFlow = 1;
    flow.fNull = 1;
    ASSERT_TRUE(port.SetState(&flow));
    tarnos::CallTrace::Instance().Clear();

    unsigned previous = 0;
    EXPECT_TRUE(port.Configure(9600, &previous));
    EXPECT_EQ(previous, 19200u);
    DCB expectedDcb = flow;
    expectedDcb.DCBlength = 28;
    expectedDcb.BaudRate = 9600;
    expectedDcb.ByteSize = 8;
    expectedDcb.Parity = NOPARITY;
    expectedDcb.StopBits = ONESTOPBIT;
    expectedDcb.fOutxCtsFlow = 0;
    expectedDcb.fOutxDsrFlow = 0;
    expectedDcb.fNull = 0;
    const std::string h = m_handle;
    const std::vector<std::string> expected = {
        "GetCommState(" + h + ", {len=28}) -> TRUE " + DcbText(flow),
        "SetupComm(" + h + ", 2048, 2048) -> TRUE",
        R"(wsprintfW(L"baud=%u parity=N data=8 stop=1") -> L"baud=9600 parity=N data=8 stop=1")",
        R"(BuildCommDCBW(L"baud=9600 parity=N data=8 stop=1", {len=28}) -> TRUE)",
        "SetCommState(" + h + ", " + DcbText(expectedDcb) + ") -> TRUE",
        "SetCommTimeouts(" + h + ", {0xFFFFFFFF, 0, 0, 0, 1000}) -> TRUE"};
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(Sim().CurrentBaud(0), 9600u);
}

// Configure step 5: BuildCommDCBW's result is ignored; a rejected text ("baud=0") leaves the record as read
// in step 2, and the flags are still cleared before SetCommState.
TEST_F(Part4_2_Win32SerialPort, ConfigureIgnoresARejectedFrameTextAndKeepsTheRecordAsRead) {
    Use(OnePort(1, 19200));
    CSerialPort& port = OpenPort();
    DCB flow = {};
    ASSERT_TRUE(port.GetState(&flow));
    flow.fOutxCtsFlow = 1;
    flow.fNull = 1;
    ASSERT_TRUE(port.SetState(&flow));
    tarnos::CallTrace::Instance().Clear();
    EXPECT_TRUE(port.Configure(0, nullptr));
    DCB expectedDcb = flow;
    expectedDcb.fOutxCtsFlow = 0;
    expectedDcb.fNull = 0;
    EXPECT_EQ(
        Trace({"BuildCommDCBW", "SetCommState"}),
        (std::vector<std::string>{R"(BuildCommDCBW(L"baud=0 parity=N data=8 stop=1", {len=28}) -> FALSE)",
                                  "SetCommState(" + m_handle + ", " + DcbText(expectedDcb) + ") -> TRUE"}));
    EXPECT_EQ(Sim().CurrentBaud(0), 19200u);
}

// Edge case: with a pointer Configure stores the previous rate before anything is changed, even if a later
// step (SetCommState) fails; settings applied before the failure stay applied.
TEST_F(Part4_2_Win32SerialPort, ConfigureWithPointerStoresThePreviousRateEvenWhenSetCommStateFails) {
    tarnsim::Scenario scenario = OnePort(1, 19200);
    scenario.ports[0].os.failConfigureAt = {57600};
    Use(scenario);
    CSerialPort& port = OpenPort();
    unsigned previous = 0xDEADBEEF;
    EXPECT_FALSE(port.Configure(57600, &previous));
    EXPECT_EQ(previous, 19200u);
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"GetCommState", "SetupComm", "wsprintfW",
                                                     "BuildCommDCBW", "SetCommState"}));
    EXPECT_EQ(Sim().CurrentBaud(0), 19200u);
}

// Edge case: with a null pointer Configure does not report the previous rate (and works all the same).
TEST_F(Part4_2_Win32SerialPort, ConfigureWithNullPointerReportsNothingAndMakesTheSameCalls) {
    Use(OnePort(1, 19200));
    CSerialPort& port = OpenPort();
    EXPECT_TRUE(port.Configure(115200, nullptr));
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"GetCommState", "SetupComm", "wsprintfW",
                                                     "BuildCommDCBW", "SetCommState", "SetCommTimeouts"}));
    EXPECT_EQ(Sim().CurrentBaud(0), 115200u);
}

// Failure handling: Configure stops at the first failing call.
TEST_F(Part4_2_Win32SerialPort, ConfigureStopsAtTheFirstFailingCall) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"GetCommState", {"GetCommState"}},
        {"SetupComm", {"GetCommState", "SetupComm"}},
        {"SetCommState", {"GetCommState", "SetupComm", "wsprintfW", "BuildCommDCBW", "SetCommState"}},
        {"SetCommTimeouts",
         {"GetCommState", "SetupComm", "wsprintfW", "BuildCommDCBW", "SetCommState", "SetCommTimeouts"}}};
    for (const auto& [failing, calls] : cases) {
        Use(OnePort(1, 4800));
        CSerialPort& port = OpenPort();
        Sim().Os(0).fail = {failing};
        unsigned previous = 0xDEADBEEF;
        EXPECT_FALSE(port.Configure(9600, &previous)) << failing;
        EXPECT_EQ(CallNames(), calls) << failing;
        EXPECT_EQ(previous, failing == "GetCommState" ? 0xDEADBEEFu : 4800u) << failing;
    }
}

// Edge case: IsBaudRateSupported(110) or (600) is false even when the driver could set the rate, without
// touching the port.
TEST_F(Part4_2_Win32SerialPort, IsBaudRateSupported110And600AreFalseWithoutTouchingThePort) {
    tarnsim::Scenario scenario = OnePort(1);
    scenario.ports[0].os.settableBaud = 0xFFFFFFFF; // BAUD_110 and BAUD_600 included
    Use(scenario);
    CSerialPort& port = OpenPort();
    for (unsigned rate : {110u, 600u, 0u, 75u, 256000u, 7200u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(port.IsBaudRateSupported(rate)) << rate;
    }
    EXPECT_TRUE(Trace().empty());
}

// Edge case: IsBaudRateSupported(57600) tests bit 0x40000 and (128000) bit 0x10000; the whole table likewise.
TEST_F(Part4_2_Win32SerialPort, IsBaudRateSupportedTestsTheRatesOwnBitOfSettableBaud) {
    Use(OnePort(1));
    CSerialPort& port = OpenPort();
    const std::vector<std::pair<unsigned, uint32_t>> table = {
        {300, 0x00010},   {1200, 0x00040},  {2400, 0x00100},   {4800, 0x00200},
        {9600, 0x00800},  {14400, 0x01000}, {19200, 0x02000},  {38400, 0x04000},
        {56000, 0x08000}, {57600, 0x40000}, {115200, 0x20000}, {128000, 0x10000}};
    for (const auto& [rate, bit] : table) {
        Sim().Os(0).settableBaud = bit;
        EXPECT_TRUE(port.IsBaudRateSupported(rate)) << rate << " with only its bit";
        Sim().Os(0).settableBaud = ~bit;
        EXPECT_FALSE(port.IsBaudRateSupported(rate)) << rate << " with all bits but its own";
    }
    tarnos::CallTrace::Instance().Clear();
    Sim().Os(0).settableBaud = 0x40000;
    EXPECT_TRUE(port.IsBaudRateSupported(57600));
    EXPECT_EQ(Trace(), std::vector<std::string>{"GetCommProperties(" + m_handle +
                                                ", ptr) -> TRUE subtype=1 settable=0x40000"});
    Sim().Os(0).settableBaud = 0x10000;
    EXPECT_TRUE(port.IsBaudRateSupported(128000));
    EXPECT_FALSE(port.IsBaudRateSupported(57600));
}

TEST_F(Part4_2_Win32SerialPort, IsBaudRateSupportedIsFalseWhenThePropertiesCannotBeRead) {
    Use(OnePort(1));
    CSerialPort& port = OpenPort();
    Sim().Os(0).fail = {"GetCommProperties"};
    EXPECT_FALSE(port.IsBaudRateSupported(9600));
    EXPECT_EQ(CallNames(), std::vector<std::string>{"GetCommProperties"});
}

// Edge case: with an unlisted rate on a closed port IsBaudRateSupported returns false without an assertion;
// with a listed rate on a closed port it throws.
TEST_F(Part4_2_Win32SerialPort, UnlistedRateOnAClosedPortIsFalseWithoutAssertionAndAListedRateThrows) {
    Use(OnePort(1));
    CSerialPort port(1, 0x3F8);
    tarnos::CallTrace::Instance().Clear();
    bool answer = true;
    EXPECT_NO_THROW(answer = port.IsBaudRateSupported(110));
    EXPECT_FALSE(answer);
    EXPECT_NO_THROW(answer = port.IsBaudRateSupported(256000));
    EXPECT_FALSE(answer);
    EXPECT_TRUE(Trace().empty());
    ExpectAssertionBeforeAnyCall([&] { port.IsBaudRateSupported(57600); }, HANDLE_ASSERTION, "listed rate");
}

// Edge case: after Configure, a Read with nothing received returns true at once with a count of 0.
TEST_F(Part4_2_Win32SerialPort, ReadAfterConfigureWithNothingReceivedReturnsTrueAtOnceWithZero) {
    Use(OnePort(1));
    CSerialPort& port = OpenPort();
    ASSERT_TRUE(port.Configure(9600, nullptr));
    tarnos::CallTrace::Instance().Clear();
    const uint64_t before = Sim().Clock().NowUs();
    char buffer[512];
    DWORD read = 12345;
    EXPECT_TRUE(port.Read(buffer, sizeof buffer, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(Sim().Clock().NowUs(), before) << "no virtual time passed";
    EXPECT_EQ(Trace(),
              std::vector<std::string>{"ReadFile(" + m_handle + ", ptr, 512, ptr, NULL) -> TRUE read=0"});
}

TEST_F(Part4_2_Win32SerialPort, ReadAndWriteAreSynchronousWithoutOverlappedRecord) {
    tarnsim::Scenario scenario = OnePort(1);
    scenario.ports[0].attached = tarnsim::AttachedConfig::Loopback();
    Use(scenario);
    CSerialPort& port = OpenPort();
    ASSERT_TRUE(port.Configure(115200, nullptr));
    tarnos::CallTrace::Instance().Clear();
    const char data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    DWORD written = 0;
    EXPECT_TRUE(port.Write(data, 8, &written));
    EXPECT_EQ(written, 8u);
    char echo[16] = {};
    DWORD read = 0;
    EXPECT_TRUE(port.Read(echo, 16, &read));
    EXPECT_EQ(read, 8u);
    EXPECT_EQ(std::string(echo, 8), std::string(data, 8));
    EXPECT_EQ(Trace(),
              (std::vector<std::string>{"WriteFile(" + m_handle + ", ptr, 8, ptr, NULL) -> TRUE written=8",
                                        "ReadFile(" + m_handle + ", ptr, 16, ptr, NULL) -> TRUE read=8"}));
}

// GetBaudRate reads the driver's rate; when GetCommState fails it leaves the caller's rate unchanged.
TEST_F(Part4_2_Win32SerialPort, GetBaudRateFailingLeavesTheCallersRateUnchanged) {
    Use(OnePort(1, 38400));
    CSerialPort& port = OpenPort();
    unsigned rate = 0;
    EXPECT_TRUE(port.GetBaudRate(&rate));
    EXPECT_EQ(rate, 38400u);
    EXPECT_EQ(Trace().at(0).rfind("GetCommState(" + m_handle + ", {len=28}) -> TRUE", 0), 0u);
    Sim().Os(0).fail = {"GetCommState"};
    rate = 4321;
    EXPECT_FALSE(port.GetBaudRate(&rate));
    EXPECT_EQ(rate, 4321u);
}

// GetState sets DCBlength to 28 before GetCommState; the other wrappers pass their record through.
TEST_F(Part4_2_Win32SerialPort, GetStateSetsTheLengthTo28AndTheOtherWrappersPassThrough) {
    Use(OnePort(1));
    CSerialPort& port = OpenPort();
    DCB dcb = {};
    dcb.DCBlength = 0;
    EXPECT_TRUE(port.GetState(&dcb));
    DWORD status = 0;
    EXPECT_TRUE(port.GetModemStatus(&status));
    COMMPROP properties = {};
    EXPECT_TRUE(port.GetProperties(&properties));
    EXPECT_EQ(properties.dwProvSubType, 1u);
    EXPECT_TRUE(port.SetState(&dcb));
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"GetCommState", "GetCommModemStatus",
                                                     "GetCommProperties", "SetCommState"}));
    EXPECT_EQ(Trace().at(0).rfind("GetCommState(" + m_handle + ", {len=28})", 0), 0u);
    Sim().Os(0).fail = {"GetCommModemStatus", "GetCommProperties", "SetCommState"};
    EXPECT_FALSE(port.GetModemStatus(&status));
    EXPECT_FALSE(port.GetProperties(&properties));
    EXPECT_FALSE(port.SetState(&dcb));
}

// The destructor closes an open handle; a closed port's destructor calls nothing.
TEST_F(Part4_2_Win32SerialPort, DestructorClosesAnOpenHandle) {
    Use(OnePort(1));
    {
        CSerialPort port(1, 0x3F8);
        ASSERT_TRUE(port.Open());
        EXPECT_EQ(Sim().OpenHandleCount(), 1u);
        tarnos::CallTrace::Instance().Clear();
    }
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_EQ(CallNames(), std::vector<std::string>{"CloseHandle"});
    tarnos::CallTrace::Instance().Clear();
    { CSerialPort closed(1, 0x3F8); }
    EXPECT_EQ(CallNames(), std::vector<std::string>{"DriverOpened"});
}
