// CSerialPortTest: catalogue (Part 2.2), test object (Part 2.3), dispatcher (Part 3.1), port screening
// (Part 3.2), the five test bodies and the baud-rate list (Parts 5.1 to 5.6).
#include "SerialPortTest.h"

#include "uart/SerialReg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using kivu5::DataType;
using kivu5::DiagModule;
using kivu5::TestResult;
using kivu5::Value;

namespace {
// Every event names this source file (Part 2.2), also for the events of the screening.
const char* const SOURCE_FILE = "SerialPortTest";
} // namespace

// ---------------------------------------------------------------------------------------------------------
// Part 2.2: the catalogue.

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

// Part 2.1, static initialisation steps 1 to 4.
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

// Part 2.1, static initialisation step 7.
void CreateBadDevicePointer() {
    g_EventBadDevicePointer = DiagModule::createEvent("BadDevicePointer");
}

// ---------------------------------------------------------------------------------------------------------
// Part 2.3: the test object and the state kept between runs.

int CSerialPortTest::mtestID = 0;
bool g_PromptForLoopback = true;

namespace {

// The list object lives until the process ends and has no destructor of its own to run at exit: the exit
// handler of step 5 releases its storage (Part 2.3), whatever the order of exit-time work.
CBaudRateList& DefaultBaudRatesList() {
    static CBaudRateList* list = new CBaudRateList();
    return *list;
}

} // namespace

CBaudRateList& g_DefaultBaudRates = DefaultBaudRatesList();

namespace {

const unsigned DEFAULT_BAUD_RATES[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                       19200, 38400, 56000, 57600, 115200, 128000, 256000};

void ReleaseDefaultBaudRates() {
    CBaudRateList().swap(g_DefaultBaudRates);
}

} // namespace

// Part 2.1, static initialisation step 5.
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
// Part 1.2: the second logger, through which RunTest traces and every message is logged.

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

// Part 1.2, rules 2 and 3: logged when the gate lets priority P through, as "<line> <message...>".
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

// The priorities of Part 1.2.
const int PRIORITY_DETAIL = 1;
const int PRIORITY_REFUSED_OR_STOPPED = 2;
const int PRIORITY_SETUP_FAILURE = 3;
const int PRIORITY_TEST_FAILURE = 4;

namespace {

// A register's absolute address: the I/O base plus the offset, in 16 bits (Part 4.1).
unsigned short Reg(unsigned short base, int offset) {
    return static_cast<unsigned short>(base + offset);
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
// Part 3.1: the dispatcher.

TestResult CSerialPortTest::RunTest(const kivu5::DiagDevice& device) {
    qen::TraceLogger trace(qen::LogGate::ForTrace(TestLogger()), "RunTest", SOURCE_FILE, __LINE__);
    TestResult result = TestResult::TESTNOTSTARTED();

    // Step 2.
    const kivu5::DeviceProperty* portProperty = device.property("ComPortNumber");
    const kivu5::DeviceProperty* baseProperty = device.property("IoBaseAddresses");

    // Step 3.
    if (portProperty == nullptr) {
        LOG_MESSAGE(PRIORITY_SETUP_FAILURE, "Failed to enumerate serial port IO base address (NULL).");
        DiagModule::warning(g_EventEnumerationError, SOURCE_FILE, __LINE__);
        return TestResult::NODEVICE();
    }

    // Step 4.
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

    // Step 5: only the low 16 bits of the port number are used.
    unsigned short portNumber = static_cast<unsigned short>(portProperty->value().valueUint32() & 0xFFFFu);
    LOG_MESSAGE(PRIORITY_DETAIL, "==>PORT NUMBER: ", static_cast<unsigned>(portNumber));

    // Step 6: a missing kernel-mode driver throws here, uncaught.
    CSerialPort port(portNumber, ioBaseAddress);
    const qen::CString name = port.GetPortName().getUTF8String();

    // Step 7.
    g_TextValidityCheck->setVariable("PortNumber", PortNameValue(port));
    DiagModule::progress(g_TextValidityCheck);
    DiagModule::percentDone(0);

    // Steps 8 to 13: one guarded block, left by throwing the TestResult.
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
        // Step 13: no separator between the name and "can't" (the spec's text).
        ReportOpenFailure(port);
        LOG_MESSAGE(PRIORITY_SETUP_FAILURE, "Port ", name, "can't open port.");
        throw TestResult::CANNOTRUN();
    } catch (TestResult& thrown) {
        result = thrown;
    }

    // Step 14.
    g_TextTestComplete->setVariable("PortNumber", PortNameValue(port));
    DiagModule::progress(g_TextTestComplete);
    DiagModule::percentDone(100);
    return result;
}

// ---------------------------------------------------------------------------------------------------------
// Part 3.2: port screening.

namespace {

bool IsInternalTest(int testID) {
    return testID == INTERNAL_CONTROL_SIGNALS_TEST_ID || testID == INTERNAL_REGISTER_TEST_ID ||
           testID == INTERNAL_SEND_AND_RECEIVE_TEST_ID;
}

// The standard I/O bases of COM2, COM1, COM4 and COM3, in the order they are compared.
const unsigned short STANDARD_IO_BASES[] = {0x2F8, 0x3F8, 0x2E8, 0x3E8};

bool IsStandardIoBase(unsigned short base) {
    for (unsigned short standard : STANDARD_IO_BASES) {
        if (base == standard) {
            return true;
        }
    }
    return false;
}

bool IsQuietOpenFailure(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_GEN_FAILURE;
}

bool IsTestableSubType(DWORD subType) {
    return subType == PST_RS232 || subType == PST_RS422 || subType == PST_RS423 || subType == PST_RS449;
}

// Part 3.2, IsInfraredMode steps 3 to 8 (the caller saved the LCR and writes it back).
bool ProbeBankedUartForInfrared(CSerialPort& port, unsigned short base, unsigned char savedLcr) {
    const unsigned short lcr = Reg(base, UART_LCR);
    const unsigned char bank0Lcr = static_cast<unsigned char>(savedLcr & ~UART_NS_BANK_SELECT);

    port.WriteRegister(lcr, UART_NS_BANK3); // step 3
    unsigned char first = port.ReadRegister(Reg(base, UART_NS_ID));
    unsigned char second = port.ReadRegister(Reg(base, UART_NS_ID));
    if (first != second) { // step 4
        return false;
    }
    unsigned char design = port.ReadRegister(Reg(base, UART_NS_ID)) & UART_NS_ID_MASK; // step 5
    if (design != UART_NS_ID_1 && design != UART_NS_ID_2 && design != UART_NS_ID_3) {
        return false;
    }

    port.WriteRegister(lcr, UART_NS_BANK4); // step 6
    unsigned char ircr = port.ReadRegister(Reg(base, UART_NS_IRCR1));
    if ((ircr & UART_NS_IRCR1_IR_MODE) != 0) { // step 7
        unsigned char again = port.ReadRegister(Reg(base, UART_NS_IRCR1));
        unsigned char andAgain = port.ReadRegister(Reg(base, UART_NS_IRCR1));
        if (again != andAgain) {
            return false;
        }
        port.WriteRegister(lcr, bank0Lcr);
        return port.ReadRegister(Reg(base, UART_IIR)) != again;
    }

    port.WriteRegister(lcr, UART_NS_BANK2); // step 8
    unsigned char excr1 = port.ReadRegister(Reg(base, UART_NS_EXCR1));
    unsigned char excr1Again = port.ReadRegister(Reg(base, UART_NS_EXCR1));
    if (excr1 != excr1Again || (excr1 & UART_NS_EXCR1_EXT_MODE) == 0) {
        return false;
    }
    port.WriteRegister(lcr, bank0Lcr);
    return (port.ReadRegister(Reg(base, UART_MCR)) & UART_MCR_NS_MODE) != 0;
}

} // namespace

bool CSerialPortTest::IsPortTestable(CSerialPort& port) {
    if (IsInternalTest(mtestID)) {
        unsigned short base = port.GetIoBaseAddress();
        if (base == NO_IO_BASE_ADDRESS) {
            return true; // the body itself answers NOTSUPPORTED
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
    unsigned short base = port.GetIoBaseAddress();
    if (base == NO_IO_BASE_ADDRESS) {
        return false;
    }
    unsigned char savedLcr = port.ReadRegister(Reg(base, UART_LCR));
    bool infrared = ProbeBankedUartForInfrared(port, base, savedLcr);
    port.WriteRegister(Reg(base, UART_LCR), savedLcr); // step 9, on every way out
    return infrared;
}

namespace {

const char MODEM_COMMAND[] = "AT\r";
const DWORD MODEM_COMMAND_LENGTH = 3;
const DWORD MODEM_ANSWER_SIZE = 10;
const DWORD MODEM_FIRST_WAIT_MS = 250;
const DWORD MODEM_WAIT_STEP_MS = 100;
const DWORD MODEM_LAST_WAIT_MS = 450;
const unsigned MODEM_PROBE_RATE = 9600;

// Part 3.2, DetectModem step 4.5: the bytes received up to the first zero byte, within the buffer.
bool ContainsModemAnswer(const char* buffer, size_t size) {
    size_t length = 0;
    while (length < size && buffer[length] != 0) {
        ++length;
    }
    std::string answer(buffer, length);
    return answer.find("OK\r") != std::string::npos || answer.find("ERROR\r") != std::string::npos;
}

} // namespace

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
    if (code == ERROR_ACCESS_DENIED) {
        RaiseForPort(g_EventAccessDeniedFailure, port, DiagModule::warning, __LINE__);
        LOG_MESSAGE(PRIORITY_SETUP_FAILURE, "Access denied failure");
    }
}

// ---------------------------------------------------------------------------------------------------------
// Part 5.1: internal register test.

TestResult CSerialPortTest::RunInternalRegisterTest(CSerialPort& port) {
    unsigned short base = port.GetIoBaseAddress();
    if (base == NO_IO_BASE_ADDRESS) {
        return TestResult::NOTSUPPORTED();
    }
    unsigned char value[UART_REGISTER_COUNT];
    for (int offset = UART_SCR; offset >= UART_RX; --offset) { // 7 down to 0, once each
        value[offset] = port.ReadRegister(Reg(base, offset));
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
// Part 5.2: internal control signals test.

namespace {

const int CONTROL_COMBINATIONS = 16;
// MSR >> 4 expected for MCR low bits n: n with bits 0 and 1 exchanged (DTR->DSR, RTS->CTS, Part 4.1).
const int EXPECTED_MODEM_STATUS[CONTROL_COMBINATIONS] = {0, 2,  1, 3,  4,  6,  5,  7,
                                                         8, 10, 9, 11, 12, 14, 13, 15};
const DWORD CONTROL_SETTLE_MS = 100;

} // namespace

TestResult CSerialPortTest::RunInternalControlSignalsTest(CSerialPort& port) {
    unsigned short base = port.GetIoBaseAddress();
    if (base == NO_IO_BASE_ADDRESS) {
        return TestResult::NOTSUPPORTED();
    }
    const unsigned short mcr = Reg(base, UART_MCR);
    port.WriteRegister(mcr, static_cast<unsigned char>(port.ReadRegister(mcr) | UART_MCR_LOOP));
    port.WriteRegister(Reg(base, UART_IER), UART_IER_OFF);

    bool failed = false;
    for (int n = 0; n < CONTROL_COMBINATIONS; ++n) {
        port.WriteRegister(mcr, static_cast<unsigned char>(UART_MCR_LOOP + n));
        Sleep(CONTROL_SETTLE_MS);
        int read = port.ReadRegister(Reg(base, UART_MSR)) >> UART_MSR_INPUTS_SHIFT;
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
// Part 5.3: internal send and receive test.

namespace {

struct SendReceiveRate {
    unsigned rate;
    unsigned char divisor; // 115200 / rate
};
const SendReceiveRate SEND_RECEIVE_RATES[] = {{1200, 96}, {2400, 48}, {4800, 24}, {9600, 12}, {14400, 8},
                                              {19200, 6}, {38400, 3}, {57600, 2}, {115200, 1}};
const int SEND_RECEIVE_ROWS = sizeof SEND_RECEIVE_RATES / sizeof SEND_RECEIVE_RATES[0];

// 8 data bits, no parity, 2 stop bits; with and without the divisor latch.
const unsigned char LCR_FRAME_8N2 = UART_LCR_WLEN8 | UART_LCR_STOP;
const unsigned char LCR_FRAME_8N2_DLAB = UART_LCR_DLAB | UART_LCR_WLEN8 | UART_LCR_STOP;
const DWORD PROGRAMMING_PAUSE_MS = 10;
const DWORD LINE_WAIT_LIMIT_MS = 3000;
const int BYTE_VALUES = 256;

// Part 5.3, percentDone for row i: i x 100 / 9 + 2, truncated toward zero.
int RowPercent(int row) {
    return static_cast<int>(row * 100.0 / static_cast<double>(SEND_RECEIVE_ROWS) + 2.0);
}

// Part 5.3: polls LSR back to back until the bit is set; false after 3000 ms by unsigned tick difference.
bool WaitForLineStatus(CSerialPort& port, unsigned short lsr, unsigned char bit) {
    DWORD start = GetTickCount();
    unsigned char status = port.ReadRegister(lsr);
    while ((status & bit) == 0) {
        if (static_cast<DWORD>(GetTickCount() - start) > LINE_WAIT_LIMIT_MS) {
            return false;
        }
        status = port.ReadRegister(lsr);
    }
    return true;
}

// Part 5.3, timeout handling, the same for both waits.
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
        return TestResult::FAIL(); // the saved rate is not put back on this path
    }
    port.Configure(savedRate, nullptr);
    return overall;
}

TestResult CSerialPortTest::SendAndReceiveAtBaudRate(CSerialPort& port, unsigned rate,
                                                     unsigned char divisor) {
    unsigned short base = port.GetIoBaseAddress();
    if (base == NO_IO_BASE_ADDRESS) {
        return TestResult::NOTSUPPORTED();
    }
    const unsigned short lsr = Reg(base, UART_LSR);
    const unsigned short lcr = Reg(base, UART_LCR);
    const unsigned short data = Reg(base, UART_RX);

    // Step 2: program the UART, in exactly this order.
    const unsigned short mcr = Reg(base, UART_MCR);
    port.WriteRegister(mcr, static_cast<unsigned char>(port.ReadRegister(mcr) | UART_MCR_LOOP)); // 2.1
    port.WriteRegister(Reg(base, UART_IER), UART_IER_OFF);                                       // 2.2
    Sleep(PROGRAMMING_PAUSE_MS);
    port.WriteRegister(lcr, LCR_FRAME_8N2_DLAB); // 2.3
    Sleep(PROGRAMMING_PAUSE_MS);
    port.ReadRegister(lsr); // 2.4
    Sleep(PROGRAMMING_PAUSE_MS);
    port.WriteRegister(lcr, LCR_FRAME_8N2_DLAB); // 2.5
    Sleep(PROGRAMMING_PAUSE_MS);
    port.WriteRegister(Reg(base, UART_DLL), divisor); // 2.6
    Sleep(PROGRAMMING_PAUSE_MS);
    port.WriteRegister(lcr, LCR_FRAME_8N2);            // 2.7
    if ((port.ReadRegister(lsr) & UART_LSR_DR) != 0) { // 2.8: drop a byte already waiting
        port.ReadRegister(data);
    }
    Sleep(PROGRAMMING_PAUSE_MS);

    // Step 3: the one stop check of a rate, before its first byte.
    if (DiagModule::checkForStop()) {
        LOG_MESSAGE(PRIORITY_REFUSED_OR_STOPPED, "Port: ", port.GetPortName().getUTF8String(),
                    " User aborted");
        return TestResult::USERABORTED();
    }

    // Step 4: every byte value, one at a time, each waiting for its own echo.
    for (int value = 0; value < BYTE_VALUES; ++value) {
        if (!WaitForLineStatus(port, lsr, UART_LSR_THRE)) {
            return LineWaitTimedOut(port, rate);
        }
        port.WriteRegister(data, static_cast<unsigned char>(value));
        if (!WaitForLineStatus(port, lsr, UART_LSR_DR)) {
            return LineWaitTimedOut(port, rate);
        }
        if (CheckLineStatusErrors(port)) {
            return TestResult::FAIL(); // the received byte is not read
        }
        int received = port.ReadRegister(data);
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

bool CSerialPortTest::CheckLineStatusErrors(CSerialPort& port) {
    unsigned char status = port.ReadRegister(Reg(port.GetIoBaseAddress(), UART_LSR)); // a read of its own
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
// Parts 5.4 and 5.6: the adapter prompt.

namespace {

// Part 5.4 step 2 and Part 5.6 step 1: true when the user declined (answer 150).
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
// Part 5.4: external register test.

namespace {

const unsigned EXTERNAL_REGISTER_RATE = 9600;
const DWORD LINE_SETTLE_MS = 10;

enum class ControlLine { Dtr, Rts };

struct ExternalRegisterStep {
    ControlLine line;
    bool on;         // DTR_CONTROL_ENABLE / RTS_CONTROL_ENABLE, else DISABLE
    DWORD statusBit; // MS_DSR_ON or MS_CTS_ON
    kivu5::Event** event;
    const char* text; // after the port name
};

// Part 5.4, step 5: always all four, in this order; a fault is the bit equal to "not on".
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
        // Left open by the spec: a status that cannot be read counts as all lines clear, so a port whose
        // lines cannot be read fails steps 2 and 4 and never passes (docs/decisions.md).
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
// Part 5.5: the baud-rate list.

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
    // Left open by the spec: BaudRateIndex is the entry's 0-based position in the list validated (the
    // configured list, or the default list when that is used), so a technician can find it
    // (docs/decisions.md).
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
// Part 5.6: external loopback test.

namespace {

const DWORD PATTERN_BYTES = 256;
const DWORD BYTES_PER_WRITE = 8;
const DWORD READ_BUFFER_BYTES = 512;
const DWORD RATE_SETTLE_MS = 10;
const DWORD ECHO_WAIT_MS = 1000;

// Part 5.6, step 8: within one of the position, without wrap-around.
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
        return TestResult::FAIL(); // the earlier rate is not restored on this path
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
        if (DiagModule::checkForStop()) { // also after the 32nd write
            port.Configure(previousRate, nullptr);
            LOG_MESSAGE(PRIORITY_REFUSED_OR_STOPPED, "Port: ", name, " User aborted");
            return TestResult::USERABORTED();
        }
    }
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
    port.Read(buffer, READ_BUFFER_BYTES, &read);
    if (read != PATTERN_BYTES) {
        g_EventIncorrectCharCount->setVariable("PortNumber", PortNameValue(port));
        g_EventIncorrectCharCount->setVariable("DataRead", Value(static_cast<unsigned long>(read)));
        g_EventIncorrectCharCount->setVariable("DataWritten", Value(static_cast<int>(PATTERN_BYTES)));
        DiagModule::error(g_EventIncorrectCharCount, SOURCE_FILE, __LINE__);
        LOG_MESSAGE(PRIORITY_TEST_FAILURE, "Port: ", name, " Incorrect char count");
        result = TestResult::FAIL();
    }
    // A driver that reports more than it was asked for is not believed beyond the buffer (memory safety).
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
