// CSerialPortTest: the module's events, texts and parameters; the test object and the state kept from run
// to run; one run from the device's properties to its result; the port screens; the five tests.
#include "SerialPortTest.h"

#include "uart/SerialReg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "os/Win32.h" // last: routes the Win32 calls below through the platform seam

using kivu5::DataType;
using kivu5::DiagModule;
using kivu5::TestResult;
using kivu5::Value;

namespace {
// Every event and message names this source file, those of the port screens included.
const char* const SOURCE_FILE = "SerialPortTest";
} // namespace

// ---------------------------------------------------------------------------------------------------------
// Events, texts and parameters. Their names are keys that the framework, the reports and the factory
// scripts reading them match exactly, misspellings included ("FailedSendRecieveTest", "CTS_STuckLow").

kivu5::LocalizedString* g_TextValidityCheck = nullptr;
kivu5::Event* g_EventNotTestable = nullptr;
kivu5::Event* g_EventFailedGetBaudRate = nullptr;
kivu5::Event* g_EventFailedSendRecieveTest = nullptr;
kivu5::Event* g_EventEnumerationError = nullptr;
kivu5::Event* g_EventTransmitTimeout = nullptr;
kivu5::Event* g_EventMiscompareError = nullptr;
kivu5::Event* g_EventBaudMiscompareError = nullptr;
kivu5::Event* g_EventFramingError = nullptr;
kivu5::Event* g_EventParityError = nullptr;
kivu5::Event* g_EventOverrunError = nullptr;
kivu5::Event* g_EventAccessDeniedFailure = nullptr;
kivu5::Event* g_EventUnableToOpenPort = nullptr;
kivu5::Event* g_EventFailedSetup = nullptr;
kivu5::Event* g_EventDTR_StuckHigh = nullptr;
kivu5::Event* g_EventDTR_StuckLow = nullptr;
kivu5::Event* g_EventCTS_StuckHigh = nullptr;
kivu5::Event* g_EventCTS_STuckLow = nullptr;
kivu5::Event* g_EventNoValidBaudRateConfig = nullptr;
kivu5::Event* g_EventInvalidBaudRateConfig = nullptr;
kivu5::Event* g_EventWriteCompletedShort = nullptr;
kivu5::Event* g_EventIncorrectCharCount = nullptr;
kivu5::Event* g_EventReadDataIncorrect = nullptr;
kivu5::Event* g_EventFailedControlSignalsTest = nullptr;
kivu5::Event* g_EventFailedRegTest = nullptr;
kivu5::Event* g_EventBadDevicePointer = nullptr;
kivu5::LocalizedString* g_TextTestComplete = nullptr;
kivu5::LocalizedString* g_TextLoopbackProgress = nullptr;
kivu5::LocalizedString* g_TextPrgsSendReceive = nullptr;
kivu5::LocalizedString* g_TextConnectAdapterPrompt = nullptr;
kivu5::Parameter* g_ParamPromptUserForLoopBack = nullptr;
kivu5::Parameter* g_ParamBaudRates = nullptr;

// Created in this order before main: the framework lists them in creation order.
void CreateCatalogue() {
    g_TextValidityCheck = DiagModule::createLocalizedString("ValidityCheck");
    g_EventNotTestable = DiagModule::createEvent("NotTestable");
    g_EventFailedGetBaudRate = DiagModule::createEvent("FailedGetBaudRate");
    g_EventFailedSendRecieveTest = DiagModule::createEvent("FailedSendRecieveTest");
    g_EventEnumerationError = DiagModule::createEvent("EnumerationError");
    g_EventTransmitTimeout = DiagModule::createEvent("TransmitTimeout");
    g_EventMiscompareError = DiagModule::createEvent("MiscompareError");
    g_EventBaudMiscompareError = DiagModule::createEvent("BaudMiscompareError");
    g_EventFramingError = DiagModule::createEvent("FramingError");
    g_EventParityError = DiagModule::createEvent("ParityError");
    g_EventOverrunError = DiagModule::createEvent("OverrunError");
    g_EventAccessDeniedFailure = DiagModule::createEvent("AccessDeniedFailure");
    g_EventUnableToOpenPort = DiagModule::createEvent("UnableToOpenPort");
    g_EventFailedSetup = DiagModule::createEvent("FailedSetup");
    g_EventDTR_StuckHigh = DiagModule::createEvent("DTR_StuckHigh");
    g_EventDTR_StuckLow = DiagModule::createEvent("DTR_StuckLow");
    g_EventCTS_StuckHigh = DiagModule::createEvent("CTS_StuckHigh");
    g_EventCTS_STuckLow = DiagModule::createEvent("CTS_STuckLow");
    g_EventNoValidBaudRateConfig = DiagModule::createEvent("NoValidBaudRateConfig");
    g_EventInvalidBaudRateConfig = DiagModule::createEvent("InvalidBaudRateConfig");
    g_EventWriteCompletedShort = DiagModule::createEvent("WriteCompletedShort");
    g_EventIncorrectCharCount = DiagModule::createEvent("IncorrectCharCount");
    g_EventReadDataIncorrect = DiagModule::createEvent("ReadDataIncorrect");
    g_EventFailedControlSignalsTest = DiagModule::createEvent("FailedControlSignalsTest");
    g_EventFailedRegTest = DiagModule::createEvent("FailedRegTest");
    g_TextTestComplete = DiagModule::createLocalizedString("TestComplete");
    g_TextLoopbackProgress = DiagModule::createLocalizedString("LoopbackProgress");
    g_TextPrgsSendReceive = DiagModule::createLocalizedString("PrgsSendReceive");
    g_TextConnectAdapterPrompt = DiagModule::createLocalizedString("ConnectAdapterPrompt");
    g_ParamPromptUserForLoopBack =
        DiagModule::createParameter("PromptUserForLoopBack", DataType::BOOLEAN(), "", false, true);
    g_ParamBaudRates = DiagModule::createParameter("BaudRates", DataType::UINT32ARRAY(), "", false, true);
}

// Created after the tests. Nothing raises it.
void CreateBadDevicePointer() {
    g_EventBadDevicePointer = DiagModule::createEvent("BadDevicePointer");
}

// ---------------------------------------------------------------------------------------------------------
// The test object and the state kept from run to run. The framework calls one test at a time, so this state
// needs no guard.

int CSerialPortTest::mtestID = 0;
bool g_PromptForLoopback = true;

namespace {

// The list object lives until the process ends and has no destructor of its own to run at exit: the exit
// handler registered before main releases its storage, whatever the order of exit-time work.
CBaudRateList& DefaultBaudRatesList() {
    static CBaudRateList* list = new CBaudRateList();
    return *list;
}

} // namespace

CBaudRateList& g_DefaultBaudRates = DefaultBaudRatesList();

namespace {

// Tried when no BaudRates are configured. 110, 600 and 256000 have no settable-rates bit, so a port can
// never be asked for them: each is reported and skipped.
const unsigned DEFAULT_BAUD_RATES[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                       19200, 38400, 56000, 57600, 115200, 128000, 256000};

void ReleaseDefaultBaudRates() {
    CBaudRateList().swap(g_DefaultBaudRates);
}

} // namespace

void RegisterDefaultBaudRatesRelease() {
    std::atexit(ReleaseDefaultBaudRates);
}

CSerialPortTest::CSerialPortTest(int testID) : m_BaudRates() {
    mtestID = testID;
    if (testID == EXTERNAL_LOOPBACK_TEST_ID) {
        InitDefaultBaudRates(); // an allocation failure releases m_BaudRates as the exception leaves
    }
}

CSerialPortTest::~CSerialPortTest() {}

void CSerialPortTest::InitDefaultBaudRates() {
    if (!g_DefaultBaudRates.empty()) {
        return;
    }
    for (unsigned rate : DEFAULT_BAUD_RATES) {
        g_DefaultBaudRates.push_back(rate);
    }
}

// ---------------------------------------------------------------------------------------------------------
// Logging: RunTest traces and every message is logged through this logger, made on first use.

namespace {

qen::Logger* g_TestLogger = nullptr;

qen::Logger* TestLogger() {
    if (g_TestLogger == nullptr) {
        qen::LogFactory::createLogger("tarnserialport", g_TestLogger);
    }
    return g_TestLogger;
}

void AppendPart(qen::LoggerStream& stream, const char* text) {
    stream.append(text);
}
void AppendPart(qen::LoggerStream& stream, const qen::CString& text) {
    stream.append(text);
}
void AppendPart(qen::LoggerStream& stream, int value) {
    stream.append(value);
}
void AppendPart(qen::LoggerStream& stream, unsigned value) {
    stream.append(value);
}

// Logged when the global priority and the logger's level let the priority through, as "<line> <message>",
// the line being that of the logging statement.
template <class... Parts> void LogMessage(int priority, int line, const Parts&... parts) {
    qen::Logger* logger = TestLogger();
    if (!qen::LogGate::MessageEnabled(logger, priority)) {
        return;
    }
    qen::LoggerStream stream;
    stream.append(line).append(" ");
    (AppendPart(stream, parts), ...);
    logger->log(priority, stream);
}

} // namespace

#define LOG_MESSAGE(priority, ...) LogMessage(priority, __LINE__, __VA_ARGS__)

// Message priorities: detail; a port refused by the screens or a user's stop; a port that cannot be
// enumerated, opened or set up; a test failure.
const int PRIORITY_DETAIL = 1;
const int PRIORITY_REFUSED_OR_STOPPED = 2;
const int PRIORITY_SETUP_FAILURE = 3;
const int PRIORITY_TEST_FAILURE = 4;

namespace {

// UART registers by their offset from the port's I/O base, as a UART driver reads and writes them. The
// address is computed in 16 bits: the I/O space is 64 KiB.
unsigned char UartIn(CSerialPort& port, int offset) {
    return port.ReadRegister(static_cast<unsigned short>(port.GetIoBaseAddress() + offset));
}

void UartOut(CSerialPort& port, int offset, unsigned char value) {
    port.WriteRegister(static_cast<unsigned short>(port.GetIoBaseAddress() + offset), value);
}

Value PortNameValue(const CSerialPort& port) {
    return Value(port.GetPortName());
}

// Raises an event whose only variable is PortNumber.
void RaiseForPort(kivu5::Event* event, const CSerialPort& port,
                  void (*severity)(kivu5::Event*, const kivu5::KivuString&, int), int line) {
    event->setVariable("PortNumber", PortNameValue(port));
    severity(event, SOURCE_FILE, line);
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// One test run: the device's properties, the port object, the screens, the test body, the result. Every
// way out after the screens start throws its TestResult, caught at the end of one guarded block, so that
// "Finished" is shown on each of them.

TestResult CSerialPortTest::RunTest(const kivu5::DiagDevice& device) {
    qen::TraceLogger trace(qen::LogGate::ForTrace(TestLogger()), "RunTest", SOURCE_FILE, __LINE__);
    TestResult result = TestResult::TESTNOTSTARTED();

    const kivu5::DeviceProperty* portProperty = device.property("ComPortNumber");
    const kivu5::DeviceProperty* baseProperty = device.property("IoBaseAddresses");

    // Without a port number there is no port to name or open: no progress is shown at all.
    if (portProperty == nullptr) {
        LOG_MESSAGE(PRIORITY_SETUP_FAILURE, "Failed to enumerate serial port IO base address (NULL).");
        DiagModule::warning(g_EventEnumerationError, SOURCE_FILE, __LINE__);
        return TestResult::NODEVICE();
    }

    // A port without I/O base (a USB adapter) can still be tested through its driver; the register-level
    // tests answer NOTSUPPORTED for it. Only the first base counts: the UART's register 0.
    unsigned short ioBaseAddress = NO_IO_BASE_ADDRESS;
    if (baseProperty == nullptr) {
        LOG_MESSAGE(PRIORITY_SETUP_FAILURE, "Failed to enumerate serial port IO base address");
        LOG_MESSAGE(PRIORITY_DETAIL, "==>NO base address present 2");
    } else {
        Value bases(DataType::UINT32ARRAY());
        bases = baseProperty->value();
        if (bases.Uint32ArraySize() > 0) {
            ioBaseAddress = static_cast<unsigned short>(bases.getUint32InArray(0) & 0xFFFFu);
        } else {
            LOG_MESSAGE(PRIORITY_SETUP_FAILURE, "Failed to enumerate serial port IO base address");
            DiagModule::warning(g_EventEnumerationError, SOURCE_FILE, __LINE__);
            LOG_MESSAGE(PRIORITY_DETAIL, "==>NO base address present 1");
        }
    }

    // Port numbers and I/O addresses are 16-bit quantities; wider values keep their low 16 bits.
    unsigned short portNumber = static_cast<unsigned short>(portProperty->value().valueUint32() & 0xFFFFu);
    LOG_MESSAGE(PRIORITY_DETAIL, "==>PORT NUMBER: ", static_cast<unsigned>(portNumber));

    // A missing kernel-mode driver throws here and ends the run without a result: nothing below can work.
    CSerialPort port(portNumber, ioBaseAddress);
    const qen::CString name = port.GetPortName().getUTF8String();

    g_TextValidityCheck->setVariable("PortNumber", PortNameValue(port));
    DiagModule::progress(g_TextValidityCheck);
    DiagModule::percentDone(0);

    try {
        if (!IsPortTestable(port)) {
            RaiseForPort(g_EventNotTestable, port, DiagModule::informative, __LINE__);
            LOG_MESSAGE(PRIORITY_REFUSED_OR_STOPPED, "Port ", name, ": Not testable");
            throw TestResult::NOTSUPPORTED();
        }
        if (DetectModem(port)) {
            RaiseForPort(g_EventNotTestable, port, DiagModule::informative, __LINE__);
            LOG_MESSAGE(PRIORITY_REFUSED_OR_STOPPED, "Port ", name, ": Modem detected.");
            throw TestResult::CANNOTRUN();
        }
        // The one stop check of the run itself; a stop during a test is the test's own business.
        if (DiagModule::checkForStop()) {
            LOG_MESSAGE(PRIORITY_REFUSED_OR_STOPPED, "Port ", name, ": User aborted");
            throw TestResult::USERABORTED();
        }
        if (port.Open()) {
            switch (mtestID) {
            case INTERNAL_CONTROL_SIGNALS_TEST_ID:
                result = RunInternalControlSignalsTest(port);
                break;
            case INTERNAL_REGISTER_TEST_ID:
                result = RunInternalRegisterTest(port);
                break;
            case INTERNAL_SEND_AND_RECEIVE_TEST_ID:
                result = RunInternalSendAndReceiveTest(port);
                break;
            case EXTERNAL_LOOPBACK_TEST_ID:
                result = RunExternalLoopbackTest(port);
                break;
            case EXTERNAL_REGISTER_TEST_ID:
                result = RunExternalRegisterTest(port);
                break;
            default:
                result = TestResult::INTERNALERROR();
                LOG_MESSAGE(PRIORITY_SETUP_FAILURE, "No test is supported by mtestID: ", mtestID);
                break;
            }
            port.Close();
            throw result;
        }
        // Read the reason before anything else can overwrite the thread's last error.
        ReportOpenFailure(port);
        LOG_MESSAGE(PRIORITY_SETUP_FAILURE, "Port ", name, "can't open port.");
        throw TestResult::CANNOTRUN();
    } catch (TestResult& thrown) {
        result = thrown;
    }

    g_TextTestComplete->setVariable("PortNumber", PortNameValue(port));
    DiagModule::progress(g_TextTestComplete);
    DiagModule::percentDone(100);
    return result;
}

// ---------------------------------------------------------------------------------------------------------
// Port screening. The register-level tests drive the UART directly, so they look at the registers: a banked
// NS UART switched to an infrared mode would send the test's bytes as light pulses. The tests through the
// operating system ask its driver what kind of port it is, and check that no modem answers on it (a test
// pattern would dial it). Each screen leaves the port closed.

namespace {

bool IsInternalTest(int testID) {
    return testID == INTERNAL_CONTROL_SIGNALS_TEST_ID || testID == INTERNAL_REGISTER_TEST_ID ||
           testID == INTERNAL_SEND_AND_RECEIVE_TEST_ID;
}

// Only a UART at one of the four standard COM bases (COM2, COM1, COM4, COM3, compared in this order) can
// be a banked Super I/O UART: elsewhere the probe's bank-select writes could reach any device, so no
// register is touched.
const unsigned short STANDARD_IO_BASES[] = {0x2F8, 0x3F8, 0x2E8, 0x3E8};

bool IsStandardIoBase(unsigned short base) {
    for (unsigned short standard : STANDARD_IO_BASES) {
        if (base == standard) {
            return true;
        }
    }
    return false;
}

// A port that does not exist, or whose device is gone, is simply not testable: nothing to report.
bool IsQuietOpenFailure(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_GEN_FAILURE;
}

// Serial lines a loopback plug can be fitted to; not a parallel port, a modem or an unknown device.
bool IsTestableSubType(DWORD subType) {
    return subType == PST_RS232 || subType == PST_RS422 || subType == PST_RS423 || subType == PST_RS449;
}

// A banked NS UART shows its extra register banks when LCR holds a bank-select value. Bank 3 offset 0 is an
// identification register; bank 4 offset 2 the infrared control register; bank 2 offset 2 the extended
// control register, whose extended mode lets MCR bits 0xE0 select the operating mode. Every register is
// read twice where a floating bus could fake a value. The caller restores LCR afterwards.
bool ProbeBankedUartForInfrared(CSerialPort& port, unsigned char savedLcr) {
    const unsigned char bank0Lcr = static_cast<unsigned char>(savedLcr & ~UART_NS_BANK_SELECT);

    UartOut(port, UART_LCR, UART_NS_BANK3);
    unsigned char first = UartIn(port, UART_NS_ID);
    unsigned char second = UartIn(port, UART_NS_ID);
    if (first != second) { // nothing stable answers: not a banked UART
        return false;
    }
    unsigned char design = UartIn(port, UART_NS_ID) & UART_NS_ID_MASK;
    if (design != UART_NS_ID_1 && design != UART_NS_ID_2 && design != UART_NS_ID_3) {
        return false;
    }

    UartOut(port, UART_LCR, UART_NS_BANK4);
    unsigned char ircr = UartIn(port, UART_NS_IRCR1);
    if ((ircr & UART_NS_IRCR1_IR_MODE) != 0) {
        unsigned char again = UartIn(port, UART_NS_IRCR1);
        unsigned char andAgain = UartIn(port, UART_NS_IRCR1);
        if (again != andAgain) {
            return false;
        }
        // Back in bank 0 the same offset is IIR: a real infrared control register differs from it.
        UartOut(port, UART_LCR, bank0Lcr);
        return UartIn(port, UART_IIR) != again;
    }

    UartOut(port, UART_LCR, UART_NS_BANK2);
    unsigned char excr1 = UartIn(port, UART_NS_EXCR1);
    unsigned char excr1Again = UartIn(port, UART_NS_EXCR1);
    if (excr1 != excr1Again || (excr1 & UART_NS_EXCR1_EXT_MODE) == 0) {
        return false;
    }
    UartOut(port, UART_LCR, bank0Lcr);
    return (UartIn(port, UART_MCR) & UART_MCR_NS_MODE) != 0;
}

} // namespace

bool CSerialPortTest::IsPortTestable(CSerialPort& port) {
    if (IsInternalTest(mtestID)) {
        unsigned short base = port.GetIoBaseAddress();
        if (base == NO_IO_BASE_ADDRESS) {
            return true; // the test itself answers NOTSUPPORTED
        }
        if (!IsStandardIoBase(base)) {
            return true;
        }
        return !IsInfraredMode(port);
    }

    if (!port.Open()) {
        if (!IsQuietOpenFailure(GetLastError())) {
            ReportOpenFailure(port);
        }
        return false;
    }
    COMMPROP properties;
    std::memset(&properties, 0, sizeof properties);
    properties.dwProvSubType = 0; // what a failed call leaves: unspecified, not testable
    port.GetProperties(&properties);
    bool testable = IsTestableSubType(properties.dwProvSubType);
    port.Close();
    return testable;
}

bool CSerialPortTest::IsInfraredMode(CSerialPort& port) {
    if (port.GetIoBaseAddress() == NO_IO_BASE_ADDRESS) {
        return false;
    }
    unsigned char savedLcr = UartIn(port, UART_LCR);
    bool infrared = ProbeBankedUartForInfrared(port, savedLcr);
    UartOut(port, UART_LCR, savedLcr); // the line settings as they were, and bank 0, on every way out
    return infrared;
}

namespace {

const char MODEM_COMMAND[] = "AT\r";
const DWORD MODEM_COMMAND_LENGTH = 3;
const DWORD MODEM_ANSWER_SIZE = 10;
// A modem needs about a third of a second to answer "AT"; a slow one gets a second try with 100 ms more.
const DWORD MODEM_FIRST_WAIT_MS = 250;
const DWORD MODEM_WAIT_STEP_MS = 100;
const DWORD MODEM_LAST_WAIT_MS = 450;
const unsigned MODEM_PROBE_RATE = 9600;

// The bytes received up to the first zero byte, within the buffer, hold "OK\r" or "ERROR\r": a modem
// answered (even an error is an answer).
bool ContainsModemAnswer(const char* buffer, size_t size) {
    size_t length = 0;
    while (length < size && buffer[length] != 0) {
        ++length;
    }
    std::string answer(buffer, length);
    return answer.find("OK\r") != std::string::npos || answer.find("ERROR\r") != std::string::npos;
}

} // namespace

// True when a modem answers, and also when the port cannot be set up or talked to: a port whose driver
// fails here is not one to send test patterns through.
bool CSerialPortTest::DetectModem(CSerialPort& port) {
    if (IsInternalTest(mtestID)) {
        return false;
    }
    if (!port.Open()) {
        if (!IsQuietOpenFailure(GetLastError())) {
            ReportOpenFailure(port);
        }
        return false;
    }
    unsigned previousRate = 0;
    if (!port.Configure(MODEM_PROBE_RATE, &previousRate)) {
        port.Close();
        return true;
    }
    bool modem = false;
    DWORD wait = MODEM_FIRST_WAIT_MS;
    do {
        wait += MODEM_WAIT_STEP_MS;
        DWORD written = 0;
        if (!port.Write(MODEM_COMMAND, MODEM_COMMAND_LENGTH, &written) || written != MODEM_COMMAND_LENGTH) {
            modem = true;
            break;
        }
        Sleep(wait);
        char answer[MODEM_ANSWER_SIZE];
        std::memset(answer, 0, sizeof answer);
        DWORD read = 0;
        // The read time-outs make this return at once with what the modem sent during the wait.
        if (!port.Read(answer, MODEM_ANSWER_SIZE, &read)) {
            modem = true;
            break;
        }
        if (ContainsModemAnswer(answer, sizeof answer)) {
            modem = true;
            break;
        }
    } while (wait < MODEM_LAST_WAIT_MS);
    port.Configure(previousRate, nullptr);
    port.Close();
    return modem;
}

void CSerialPortTest::ReportOpenFailure(CSerialPort& port) {
    DWORD code = GetLastError();
    qen::String description = qen::System::getSystemErrorMsg();
    g_EventUnableToOpenPort->setVariable("PortNumber", PortNameValue(port));
    g_EventUnableToOpenPort->setVariable("ErrorDescription", Value(description));
    DiagModule::warning(g_EventUnableToOpenPort, SOURCE_FILE, __LINE__);
    LOG_MESSAGE(PRIORITY_SETUP_FAILURE, "Unable to open port:", port.GetPortName().getUTF8String());
    // Access denied: another program holds the port (opening is exclusive). Worth its own warning.
    if (code == ERROR_ACCESS_DENIED) {
        RaiseForPort(g_EventAccessDeniedFailure, port, DiagModule::warning, __LINE__);
        LOG_MESSAGE(PRIORITY_SETUP_FAILURE, "Access denied failure");
    }
}

// ---------------------------------------------------------------------------------------------------------
// Internal register test: does a UART answer at the I/O base? Where nothing decodes the addresses, the bus
// floats high and every register reads 0xFF. The test only reads, once each from the top: reading the
// receive buffer or the line status changes the UART's state, so nothing is read twice.

TestResult CSerialPortTest::RunInternalRegisterTest(CSerialPort& port) {
    if (port.GetIoBaseAddress() == NO_IO_BASE_ADDRESS) {
        return TestResult::NOTSUPPORTED();
    }
    unsigned char value[UART_REGISTER_COUNT];
    for (int offset = UART_SCR; offset >= UART_RX; --offset) {
        value[offset] = UartIn(port, offset);
    }
    unsigned char upper = value[UART_SCR] & value[UART_MSR] & value[UART_LSR] & value[UART_MCR];
    unsigned char lower = value[UART_LCR] & value[UART_IIR] & value[UART_IER] & value[UART_RX];
    if ((lower | upper) == 0xFF) { // every bit set in one group or the other: nothing answers
        RaiseForPort(g_EventFailedRegTest, port, DiagModule::error, __LINE__);
        LOG_MESSAGE(PRIORITY_TEST_FAILURE, "Failed register test");
        return TestResult::FAIL();
    }
    return TestResult::PASS();
}

// ---------------------------------------------------------------------------------------------------------
// Internal control signals test. In loopback (MCR bit 0x10) a 16550 disconnects its modem lines and feeds
// its four outputs to its four inputs: DTR to DSR, RTS to CTS, OUT1 to RI, OUT2 to DCD. All sixteen
// combinations of the outputs are driven, each must show on the inputs.

namespace {

const int CONTROL_COMBINATIONS = 16;
// MSR >> 4 for MCR low bits n: n with bits 0 and 1 exchanged (DTR is MCR bit 0 but DSR is MSR bit 5).
const int EXPECTED_MODEM_STATUS[CONTROL_COMBINATIONS] = {0, 2,  1, 3,  4,  6,  5,  7,
                                                         8, 10, 9, 11, 12, 14, 13, 15};
// Time for the inputs to follow the outputs, also on a UART that filters its modem lines.
const DWORD CONTROL_SETTLE_MS = 100;

} // namespace

TestResult CSerialPortTest::RunInternalControlSignalsTest(CSerialPort& port) {
    if (port.GetIoBaseAddress() == NO_IO_BASE_ADDRESS) {
        return TestResult::NOTSUPPORTED();
    }
    UartOut(port, UART_MCR, static_cast<unsigned char>(UartIn(port, UART_MCR) | UART_MCR_LOOP));
    UartOut(port, UART_IER, UART_IER_OFF); // the line changes must not raise interrupts for the OS driver

    bool failed = false;
    for (int n = 0; n < CONTROL_COMBINATIONS; ++n) {
        UartOut(port, UART_MCR, static_cast<unsigned char>(UART_MCR_LOOP + n));
        Sleep(CONTROL_SETTLE_MS);
        int read = UartIn(port, UART_MSR) >> UART_MSR_INPUTS_SHIFT;
        int expected = EXPECTED_MODEM_STATUS[n];
        if (read != expected) {
            g_EventMiscompareError->setVariable("PortNumber", PortNameValue(port));
            g_EventMiscompareError->setVariable("ValueRead", Value(read));
            g_EventMiscompareError->setVariable("ExpectedValue", Value(expected));
            DiagModule::error(g_EventMiscompareError, SOURCE_FILE, __LINE__);
            LOG_MESSAGE(PRIORITY_TEST_FAILURE, "Miscompare on port");
            failed = true;
        }
    }
    if (failed) {
        RaiseForPort(g_EventFailedControlSignalsTest, port, DiagModule::error, __LINE__);
        LOG_MESSAGE(PRIORITY_TEST_FAILURE, "Port failed Control Signals test.");
        return TestResult::FAIL();
    }
    return TestResult::PASS();
}

// ---------------------------------------------------------------------------------------------------------
// Internal send and receive test: every byte value through the UART's internal loopback at each rate of a
// fixed table that the port's driver says it can set, programmed straight into the divisor latch. The
// driver's own rate is saved first and given back at the end.

namespace {

struct SendReceiveRate {
    unsigned rate;
    unsigned char divisor; // the UART's clock divided by 16 is 115200 bit/s
};
const SendReceiveRate SEND_RECEIVE_RATES[] = {{1200, 96}, {2400, 48}, {4800, 24}, {9600, 12}, {14400, 8},
                                              {19200, 6}, {38400, 3}, {57600, 2}, {115200, 1}};
const int SEND_RECEIVE_ROWS = sizeof SEND_RECEIVE_RATES / sizeof SEND_RECEIVE_RATES[0];

// 8 data bits, no parity, 2 stop bits; with and without the divisor latch. Two stop bits give the receiver
// a margin at every rate.
const unsigned char LCR_FRAME_8N2 = UART_LCR_WLEN8 | UART_LCR_STOP;
const unsigned char LCR_FRAME_8N2_DLAB = UART_LCR_DLAB | UART_LCR_WLEN8 | UART_LCR_STOP;
// A pause after each programming step lets a slow UART (or one behind an LPC bridge) settle.
const DWORD PROGRAMMING_PAUSE_MS = 10;
// Far longer than one byte takes at 1200 bit/s (about 9 ms): a UART that keeps a bit clear this long is
// broken, not slow.
const DWORD LINE_WAIT_LIMIT_MS = 3000;
const int BYTE_VALUES = 256;

// The percentage after row i: i x 100 / 9 + 2, truncated toward zero.
int RowPercent(int row) {
    return static_cast<int>(row * 100.0 / static_cast<double>(SEND_RECEIVE_ROWS) + 2.0);
}

// Polls LSR back to back until the bit is set. False after the limit, measured as an unsigned tick
// difference so that the tick counter's wrap after 49.7 days does no harm.
bool WaitForLineStatus(CSerialPort& port, unsigned char bit) {
    DWORD start = GetTickCount();
    unsigned char status = UartIn(port, UART_LSR);
    while ((status & bit) == 0) {
        if (static_cast<DWORD>(GetTickCount() - start) > LINE_WAIT_LIMIT_MS) {
            return false;
        }
        status = UartIn(port, UART_LSR);
    }
    return true;
}

// The same for both waits: a user's stop explains a wait that ran out; otherwise the UART is at fault.
TestResult LineWaitTimedOut(CSerialPort& port, unsigned rate) {
    if (DiagModule::checkForStop()) {
        LogMessage(PRIORITY_REFUSED_OR_STOPPED, __LINE__, "Port: ", port.GetPortName().getUTF8String(),
                   " User aborted");
        return TestResult::USERABORTED();
    }
    g_EventTransmitTimeout->setVariable("PortNumber", PortNameValue(port));
    g_EventTransmitTimeout->setVariable("BaudRate", Value(static_cast<unsigned long>(rate)));
    DiagModule::error(g_EventTransmitTimeout, SOURCE_FILE, __LINE__);
    return TestResult::FAIL();
}

} // namespace

TestResult CSerialPortTest::RunInternalSendAndReceiveTest(CSerialPort& port) {
    unsigned savedRate = 0;
    if (!port.GetBaudRate(&savedRate)) {
        RaiseForPort(g_EventFailedGetBaudRate, port, DiagModule::error, __LINE__);
        return TestResult::FAIL();
    }
    // A failure at one rate does not hide the others: every rate runs, a stop ends the loop.
    TestResult overall = TestResult::PASS();
    for (int row = 0; row < SEND_RECEIVE_ROWS; ++row) {
        const SendReceiveRate& entry = SEND_RECEIVE_RATES[row];
        if (port.IsBaudRateSupported(entry.rate)) { // a rate the port cannot set is skipped silently
            TestResult rowResult = SendAndReceiveAtBaudRate(port, entry.rate, entry.divisor);
            if (rowResult != TestResult::PASS()) {
                if (overall != TestResult::FAIL()) {
                    overall = rowResult;
                }
                if (rowResult == TestResult::USERABORTED()) {
                    break; // no progress for this row
                }
            }
        }
        g_TextPrgsSendReceive->setVariable("BaudRate", Value(static_cast<unsigned long>(entry.rate)));
        DiagModule::progress(g_TextPrgsSendReceive);
        DiagModule::percentDone(RowPercent(row));
    }
    if (overall == TestResult::FAIL()) {
        RaiseForPort(g_EventFailedSendRecieveTest, port, DiagModule::error, __LINE__);
        LOG_MESSAGE(PRIORITY_TEST_FAILURE, "Port: ", port.GetPortName().getUTF8String(),
                    " failed send and receive test");
        return TestResult::FAIL(); // the saved rate is not put back: the port is left as the failure found it
    }
    port.Configure(savedRate, nullptr);
    return overall;
}

TestResult CSerialPortTest::SendAndReceiveAtBaudRate(CSerialPort& port, unsigned rate,
                                                     unsigned char divisor) {
    if (port.GetIoBaseAddress() == NO_IO_BASE_ADDRESS) {
        return TestResult::NOTSUPPORTED();
    }

    // Loopback on and interrupts off first, so nothing leaves the connector and the OS driver sees
    // nothing. The frame and divisor go in with DLAB set; the line status is read once in between to clear
    // old error bits; a byte left in the receive buffer is dropped so the first echo is the first byte.
    // The divisor's high byte is never written: every divisor of the table fits in the low byte.
    UartOut(port, UART_MCR, static_cast<unsigned char>(UartIn(port, UART_MCR) | UART_MCR_LOOP));
    UartOut(port, UART_IER, UART_IER_OFF);
    Sleep(PROGRAMMING_PAUSE_MS);
    UartOut(port, UART_LCR, LCR_FRAME_8N2_DLAB);
    Sleep(PROGRAMMING_PAUSE_MS);
    UartIn(port, UART_LSR);
    Sleep(PROGRAMMING_PAUSE_MS);
    UartOut(port, UART_LCR, LCR_FRAME_8N2_DLAB);
    Sleep(PROGRAMMING_PAUSE_MS);
    UartOut(port, UART_DLL, divisor);
    Sleep(PROGRAMMING_PAUSE_MS);
    UartOut(port, UART_LCR, LCR_FRAME_8N2);
    if ((UartIn(port, UART_LSR) & UART_LSR_DR) != 0) {
        UartIn(port, UART_RX);
    }
    Sleep(PROGRAMMING_PAUSE_MS);

    // A stop is honoured before a rate's first byte, and while a wait runs out.
    if (DiagModule::checkForStop()) {
        LOG_MESSAGE(PRIORITY_REFUSED_OR_STOPPED, "Port: ", port.GetPortName().getUTF8String(),
                    " User aborted");
        return TestResult::USERABORTED();
    }

    // One byte at a time, each waiting for its own echo, so a wrong byte is known exactly.
    for (int value = 0; value < BYTE_VALUES; ++value) {
        if (!WaitForLineStatus(port, UART_LSR_THRE)) {
            return LineWaitTimedOut(port, rate);
        }
        UartOut(port, UART_TX, static_cast<unsigned char>(value));
        if (!WaitForLineStatus(port, UART_LSR_DR)) {
            return LineWaitTimedOut(port, rate);
        }
        if (CheckLineStatusErrors(port)) {
            return TestResult::FAIL(); // the byte that came with the error is not read
        }
        int received = UartIn(port, UART_RX);
        if (received != value) {
            g_EventBaudMiscompareError->setVariable("PortNumber", PortNameValue(port));
            g_EventBaudMiscompareError->setVariable("BaudRate", Value(static_cast<unsigned long>(rate)));
            g_EventBaudMiscompareError->setVariable("ValueRead", Value(received));
            g_EventBaudMiscompareError->setVariable("ExpectedValue", Value(value));
            DiagModule::error(g_EventBaudMiscompareError, SOURCE_FILE, __LINE__);
            LOG_MESSAGE(PRIORITY_TEST_FAILURE, "Miscompare on port");
            return TestResult::FAIL();
        }
    }
    return TestResult::PASS();
}

// Reads LSR once more, on its own after the read that saw the byte arrive, and reports the most telling
// error: a framing error (the stop bit was not there) before a parity error before an overrun.
bool CSerialPortTest::CheckLineStatusErrors(CSerialPort& port) {
    unsigned char status = UartIn(port, UART_LSR);
    kivu5::Event* event = nullptr;
    if ((status & UART_LSR_FE) != 0) {
        event = g_EventFramingError;
    } else if ((status & UART_LSR_PE) != 0) {
        event = g_EventParityError;
    } else if ((status & UART_LSR_OE) != 0) {
        event = g_EventOverrunError;
    } else {
        return false;
    }
    RaiseForPort(event, port, DiagModule::error, __LINE__);
    return true;
}

// ---------------------------------------------------------------------------------------------------------
// The loopback-plug prompt of the external tests: shown until the first external test passes in this
// process (from then on the plug is known to be fitted), and only while PromptUserForLoopBack is on.

namespace {

// True when the user declined (answered Cancel).
bool UserDeclinedAdapterPrompt(const kivu5::Test* test) {
    if (!g_PromptForLoopback) {
        return false; // the parameter is not even read
    }
    if (!g_ParamPromptUserForLoopBack->value().valueBool()) {
        return false;
    }
    kivu5::MsgBoxReturn answer = DiagModule::createMessageBox(
        kivu5::MSGBOX_TYPE_OK_CANCEL, g_TextConnectAdapterPrompt->localizedString(), test->localizedName(),
        kivu5::MSGBOX_OPTION_DEFAULT_OK, kivu5::LOOKANDFEEL_QUESTION, nullptr, nullptr, nullptr,
        kivu5::FROM_SETTINGS_FILE(), 2000, true);
    return answer == kivu5::MSGBOX_RETURN_CANCEL;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------
// External register test: DTR and RTS switched through the driver's DCB, DSR and CTS read back through the
// plug's bridges (DTR pin 4 to DSR pin 6, RTS pin 7 to CTS pin 8). Each line is checked both off and on, so
// a line stuck either way is found.

namespace {

const unsigned EXTERNAL_REGISTER_RATE = 9600;
// Time for a line change to cross the plug and reach the modem-status register.
const DWORD LINE_SETTLE_MS = 10;

enum class ControlLine { Dtr, Rts };

struct ExternalRegisterStep {
    ControlLine line;
    bool on;         // DTR_CONTROL_ENABLE / RTS_CONTROL_ENABLE, else DISABLE
    DWORD statusBit; // MS_DSR_ON or MS_CTS_ON
    kivu5::Event** event;
    const char* text; // after the port name
};

// Always all four, in this order, each keeping the changes of the ones before it. A fault is the input
// differing from the output it is bridged to.
const ExternalRegisterStep EXTERNAL_REGISTER_STEPS[] = {
    {ControlLine::Dtr, false, MS_DSR_ON, &g_EventDTR_StuckHigh, " DTR stuck high"},
    {ControlLine::Dtr, true, MS_DSR_ON, &g_EventDTR_StuckLow, " DTR stuck low"},
    {ControlLine::Rts, false, MS_CTS_ON, &g_EventCTS_StuckHigh, " CTS stuck high"},
    {ControlLine::Rts, true, MS_CTS_ON, &g_EventCTS_STuckLow, " CTS stuck low"},
};

} // namespace

TestResult CSerialPortTest::RunExternalRegisterTest(CSerialPort& port) {
    TestResult overall = TestResult::PASS();
    const qen::CString name = port.GetPortName().getUTF8String();
    if (UserDeclinedAdapterPrompt(g_TestExternalRegisterTest)) {
        LOG_MESSAGE(PRIORITY_REFUSED_OR_STOPPED, "Port ", name, ": User aborted");
        return TestResult::USERABORTED();
    }

    unsigned savedRate = 0;
    if (!port.Configure(EXTERNAL_REGISTER_RATE, &savedRate)) {
        g_EventFailedSetup->setVariable("PortNumber", PortNameValue(port));
        g_EventFailedSetup->setVariable("BaudRate",
                                        Value(static_cast<unsigned long>(EXTERNAL_REGISTER_RATE)));
        DiagModule::warning(g_EventFailedSetup, SOURCE_FILE, __LINE__);
        LOG_MESSAGE(PRIORITY_SETUP_FAILURE, "Can't Open driver");
        return TestResult::FAIL();
    }

    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    port.GetState(&dcb);
    for (const ExternalRegisterStep& step : EXTERNAL_REGISTER_STEPS) {
        if (step.line == ControlLine::Dtr) {
            dcb.fDtrControl = step.on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        } else {
            dcb.fRtsControl = step.on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
        }
        port.SetState(&dcb);
        Sleep(LINE_SETTLE_MS);
        // A status that cannot be read counts as all lines clear: a port whose lines cannot be read fails
        // the "on" steps and never passes.
        DWORD status = 0;
        port.GetModemStatus(&status);
        bool lineOn = (status & step.statusBit) != 0;
        if (lineOn != step.on) {
            RaiseForPort(*step.event, port, DiagModule::error, __LINE__);
            LOG_MESSAGE(PRIORITY_TEST_FAILURE, "Port: ", name, step.text);
            overall = TestResult::FAIL();
        }
    }
    if (overall == TestResult::PASS()) {
        g_PromptForLoopback = false;
    }
    port.Configure(savedRate, nullptr);
    return overall;
}

// ---------------------------------------------------------------------------------------------------------
// The baud-rate list of the external loopback test: the BaudRates parameter, or the default list when it
// has no entries, kept in order with duplicates, each entry checked against the rates the port says it can
// be asked for. A rate the port cannot take is reported and skipped; 0xFFFFFFFF is skipped silently, so a
// settings file can switch an entry off without renumbering the others.

namespace {
const unsigned SKIPPED_BAUD_RATE = 0xFFFFFFFFu;
}

bool CSerialPortTest::LoadBaudRates(CSerialPort& port) {
    m_BaudRates.clear();
    CBaudRateList configured;
    if (g_ParamBaudRates == nullptr) {
        std::fputs("\n*** Baud Rates listing is empty, resort to default value ***\n\n", stdout);
        std::fflush(stdout);
    } else {
        Value value = g_ParamBaudRates->value();
        for (unsigned i = 0; i < value.Uint32ArraySize(); ++i) { // the size is asked before every entry
            configured.push_back(value.getUint32InArray(i));
        }
    }
    if (configured.empty()) {
        configured = g_DefaultBaudRates;
    }
    ValidateBaudRates(port, configured);
    if (m_BaudRates.empty()) {
        DiagModule::error(g_EventNoValidBaudRateConfig, SOURCE_FILE, __LINE__);
        LOG_MESSAGE(PRIORITY_TEST_FAILURE,
                    "Baud rate list not properly configured in the configuration file.  "
                    "No valid baud rates found");
        return false;
    }
    return true;
}

void CSerialPortTest::ValidateBaudRates(CSerialPort& port, CBaudRateList list) {
    // BaudRateIndex is the entry's 0-based position in the list validated (the configured list, or the
    // default list when that is used), so a technician can find the entry in the settings file.
    for (size_t index = 0; index < list.size(); ++index) {
        unsigned rate = list[index];
        if (port.IsBaudRateSupported(rate)) {
            m_BaudRates.push_back(rate);
        } else if (rate != SKIPPED_BAUD_RATE) {
            int position = static_cast<int>(index);
            g_EventInvalidBaudRateConfig->setVariable("BaudRateIndex", Value(position));
            DiagModule::error(g_EventInvalidBaudRateConfig, SOURCE_FILE, __LINE__);
            LOG_MESSAGE(PRIORITY_TEST_FAILURE,
                        "Invalid baud rate found in configuration file at baud rate index: ", position);
        }
    }
}

// ---------------------------------------------------------------------------------------------------------
// External loopback test: a 256-byte ramp through the plug's TX-RX bridge (pin 3 to pin 2) at each rate of
// the list, in order, through the operating system's driver. The first rate that does not pass ends the
// run: a port that fails at one rate is not worth the minutes the others take.

namespace {

const DWORD PATTERN_BYTES = 256;
// Small writes, with a stop check after each, so a stop is honoured within one short write.
const DWORD BYTES_PER_WRITE = 8;
// Twice the pattern: a port that echoes too much is seen.
const DWORD READ_BUFFER_BYTES = 512;
const DWORD RATE_SETTLE_MS = 10;
// A write completes once the driver has sent its bytes, so a second after the last write the whole echo
// has arrived in the driver's receive queue.
const DWORD ECHO_WAIT_MS = 1000;

// A byte one off its position is accepted: a byte lost or doubled early in the ramp shifts the rest by
// one, which the count check reports once instead of every position failing. No wrap-around.
bool IsAcceptedByte(unsigned byte, unsigned position) {
    return byte == position || byte == position + 1 || (position >= 1 && byte == position - 1);
}

} // namespace

TestResult CSerialPortTest::RunExternalLoopbackTest(CSerialPort& port) {
    if (UserDeclinedAdapterPrompt(g_TestExternalLoopbackTest)) {
        LOG_MESSAGE(PRIORITY_REFUSED_OR_STOPPED, "Port ", port.GetPortName().getUTF8String(),
                    ": User aborted");
        return TestResult::USERABORTED();
    }
    if (!LoadBaudRates(port)) {
        return TestResult::INTERNALERROR();
    }
    TestResult result = TestResult::FAIL();
    size_t done = 0;
    const size_t count = m_BaudRates.size();
    for (size_t i = 0;; ++i) {
        unsigned rate = m_BaudRates[i];
        g_TextLoopbackProgress->setVariable("BaudRate", Value(static_cast<int>(rate)));
        DiagModule::progress(g_TextLoopbackProgress);
        DiagModule::percentDone(
            static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(count) + 2.0));
        result = LoopbackAtBaudRate(port, rate);
        ++done;
        if (result != TestResult::PASS() || done == count) {
            break;
        }
    }
    // The last rate tried: the failing or stopped one, or the last of the list.
    g_TextLoopbackProgress->setVariable("BaudRate", Value(static_cast<int>(m_BaudRates[done - 1])));
    DiagModule::progress(g_TextLoopbackProgress);
    DiagModule::percentDone(100);
    if (result == TestResult::PASS()) {
        g_PromptForLoopback = false;
    }
    return result;
}

TestResult CSerialPortTest::LoopbackAtBaudRate(CSerialPort& port, unsigned rate) {
    TestResult result = TestResult::PASS();
    const qen::CString name = port.GetPortName().getUTF8String();
    unsigned previousRate = 0;
    if (!port.Configure(rate, &previousRate)) {
        RaiseForPort(g_EventFailedSetup, port, DiagModule::warning, __LINE__);
        LOG_MESSAGE(PRIORITY_TEST_FAILURE, "Port: ", name, " Failed setting port to baud rate");
        return TestResult::FAIL(); // nothing to restore: the port never took the new setting as a whole
    }
    Sleep(RATE_SETTLE_MS);
    unsigned char buffer[READ_BUFFER_BYTES];
    for (DWORD k = 0; k < PATTERN_BYTES; ++k) {
        buffer[k] = static_cast<unsigned char>(k);
    }

    DWORD total = 0;
    for (DWORD offset = 0; offset < PATTERN_BYTES; offset += BYTES_PER_WRITE) {
        DWORD written = 0;
        port.Write(buffer + offset, BYTES_PER_WRITE, &written);
        total += written;
        if (DiagModule::checkForStop()) { // also after the last write
            port.Configure(previousRate, nullptr);
            LOG_MESSAGE(PRIORITY_REFUSED_OR_STOPPED, "Port: ", name, " User aborted");
            return TestResult::USERABORTED();
        }
    }
    // A short write is reported, and the read and compare still run: they tell what did get through.
    if (total != PATTERN_BYTES) {
        g_EventWriteCompletedShort->setVariable("PortNumber", PortNameValue(port));
        g_EventWriteCompletedShort->setVariable("TotalSent", Value(static_cast<unsigned long>(total)));
        g_EventWriteCompletedShort->setVariable("TotalExpected", Value(static_cast<int>(PATTERN_BYTES)));
        DiagModule::error(g_EventWriteCompletedShort, SOURCE_FILE, __LINE__);
        LOG_MESSAGE(PRIORITY_TEST_FAILURE, "Port: ", name, " write completed short");
        result = TestResult::FAIL();
    }

    Sleep(ECHO_WAIT_MS);
    std::memset(buffer, 0, sizeof buffer);
    DWORD read = 0;
    port.Read(buffer, READ_BUFFER_BYTES, &read); // one read: everything echoed is queued by now
    if (read != PATTERN_BYTES) {
        g_EventIncorrectCharCount->setVariable("PortNumber", PortNameValue(port));
        g_EventIncorrectCharCount->setVariable("DataRead", Value(static_cast<unsigned long>(read)));
        g_EventIncorrectCharCount->setVariable("DataWritten", Value(static_cast<int>(PATTERN_BYTES)));
        DiagModule::error(g_EventIncorrectCharCount, SOURCE_FILE, __LINE__);
        LOG_MESSAGE(PRIORITY_TEST_FAILURE, "Port: ", name, " Incorrect char count");
        result = TestResult::FAIL();
    }
    // A driver that reports more than it was asked for is not believed beyond the buffer.
    DWORD compared = read < READ_BUFFER_BYTES ? read : READ_BUFFER_BYTES;
    for (DWORD k = 0; k < compared; ++k) {
        if (!IsAcceptedByte(buffer[k], k)) {
            RaiseForPort(g_EventReadDataIncorrect, port, DiagModule::error, __LINE__);
            LOG_MESSAGE(PRIORITY_TEST_FAILURE, "Port: ", name, " Read data incorrect.");
            result = TestResult::FAIL();
        }
    }
    port.Configure(previousRate, nullptr);
    return result;
}
