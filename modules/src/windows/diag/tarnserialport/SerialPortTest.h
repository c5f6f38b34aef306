// CSerialPortTest: one test run on one port, from the device's properties through the port screens to
// the test body, plus the module's events, texts and parameters and the state kept from run to run.
#pragma once

#include "SerialPort.h"

#include "kivu5/kivu5.h"

#include <vector>

// The test IDs, as the framework and reports number the tests.
const int INTERNAL_CONTROL_SIGNALS_TEST_ID = 1;
const int INTERNAL_REGISTER_TEST_ID = 2;
const int INTERNAL_SEND_AND_RECEIVE_TEST_ID = 3;
const int EXTERNAL_LOOPBACK_TEST_ID = 4;
const int EXTERNAL_REGISTER_TEST_ID = 5;

// A growable array of unsigned 32-bit baud rates, kept in order, duplicates included.
typedef std::vector<unsigned> CBaudRateList;

class CSerialPortTest {
public:
    explicit CSerialPortTest(int testID);
    virtual ~CSerialPortTest();
    CSerialPortTest(const CSerialPortTest&) = delete;
    CSerialPortTest& operator=(const CSerialPortTest&) = delete;

    kivu5::TestResult RunTest(const kivu5::DiagDevice& device);
    static void InitDefaultBaudRates();

    // The ID of the test being run. Every constructor writes it and nothing else does, so between runs it
    // keeps the ID of the last test object built.
    static int mtestID;

private:
    // Port screening: is the port testable by this kind of test, and does a modem answer on it?
    bool IsPortTestable(CSerialPort& port);
    bool IsInfraredMode(CSerialPort& port);
    bool DetectModem(CSerialPort& port);
    void ReportOpenFailure(CSerialPort& port);

    // The register-level tests, through the UART's registers in its internal loopback.
    kivu5::TestResult RunInternalRegisterTest(CSerialPort& port);
    kivu5::TestResult RunInternalControlSignalsTest(CSerialPort& port);
    kivu5::TestResult RunInternalSendAndReceiveTest(CSerialPort& port);
    kivu5::TestResult SendAndReceiveAtBaudRate(CSerialPort& port, unsigned rate, unsigned char divisor);
    bool CheckLineStatusErrors(CSerialPort& port);

    // The tests through the operating system's driver and a loopback plug.
    kivu5::TestResult RunExternalRegisterTest(CSerialPort& port);
    bool LoadBaudRates(CSerialPort& port);
    void ValidateBaudRates(CSerialPort& port, CBaudRateList list);
    kivu5::TestResult RunExternalLoopbackTest(CSerialPort& port);
    kivu5::TestResult LoopbackAtBaudRate(CSerialPort& port, unsigned rate);

    CBaudRateList m_BaudRates;
};

// State kept from run to run: the default rate list (filled once) and whether to ask for the plug.
extern CBaudRateList& g_DefaultBaudRates;
extern bool g_PromptForLoopback;

// One handle per framework object, set once before main and never freed: the framework owns them.
extern kivu5::LocalizedString* g_TextValidityCheck;
extern kivu5::Event* g_EventNotTestable;
extern kivu5::Event* g_EventFailedGetBaudRate;
extern kivu5::Event* g_EventFailedSendRecieveTest;
extern kivu5::Event* g_EventEnumerationError;
extern kivu5::Event* g_EventTransmitTimeout;
extern kivu5::Event* g_EventMiscompareError;
extern kivu5::Event* g_EventBaudMiscompareError;
extern kivu5::Event* g_EventFramingError;
extern kivu5::Event* g_EventParityError;
extern kivu5::Event* g_EventOverrunError;
extern kivu5::Event* g_EventAccessDeniedFailure;
extern kivu5::Event* g_EventUnableToOpenPort;
extern kivu5::Event* g_EventFailedSetup;
extern kivu5::Event* g_EventDTR_StuckHigh;
extern kivu5::Event* g_EventDTR_StuckLow;
extern kivu5::Event* g_EventCTS_StuckHigh;
extern kivu5::Event* g_EventCTS_STuckLow;
extern kivu5::Event* g_EventNoValidBaudRateConfig;
extern kivu5::Event* g_EventInvalidBaudRateConfig;
extern kivu5::Event* g_EventWriteCompletedShort;
extern kivu5::Event* g_EventIncorrectCharCount;
extern kivu5::Event* g_EventReadDataIncorrect;
extern kivu5::Event* g_EventFailedControlSignalsTest;
extern kivu5::Event* g_EventFailedRegTest;
extern kivu5::Event* g_EventBadDevicePointer;
extern kivu5::LocalizedString* g_TextTestComplete;
extern kivu5::LocalizedString* g_TextLoopbackProgress;
extern kivu5::LocalizedString* g_TextPrgsSendReceive;
extern kivu5::LocalizedString* g_TextConnectAdapterPrompt;
extern kivu5::Parameter* g_ParamPromptUserForLoopBack;
extern kivu5::Parameter* g_ParamBaudRates;

// The external tests' handles (they live in tarnserialport.cpp): their names caption the adapter prompt.
extern kivu5::Test* g_TestExternalRegisterTest;
extern kivu5::Test* g_TestExternalLoopbackTest;

// Creation of the module's framework objects before main; tarnserialport.cpp calls them in order, with the
// tests between the release handler and BadDevicePointer.
void CreateCatalogue();
void RegisterDefaultBaudRatesRelease();
void CreateBadDevicePointer();
