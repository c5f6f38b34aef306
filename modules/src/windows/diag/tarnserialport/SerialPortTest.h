// CSerialPortTest: the test object of one run (Part 2.3) with its catalogue (Part 2.2), dispatcher
// (Part 3.1), port screens (Part 3.2), the five test bodies and the baud-rate list (Parts 5.1 to 5.6).
#pragma once

#include "SerialPort.h"

#include "kivu5/kivu5.h"

#include <vector>

// Part 2.1: the test IDs.
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

    // The ID of the test being run; every constructor writes it, nothing else (Part 2.3).
    static int mtestID;

private:
    friend class CSerialPortTestAccess; // the test suite's window on the members below

    // Part 3.2.
    bool IsPortTestable(CSerialPort& port);
    bool IsInfraredMode(CSerialPort& port);
    bool DetectModem(CSerialPort& port);
    void ReportOpenFailure(CSerialPort& port);
    // Part 5.1.
    kivu5::TestResult RunInternalRegisterTest(CSerialPort& port);
    // Part 5.2.
    kivu5::TestResult RunInternalControlSignalsTest(CSerialPort& port);
    // Part 5.3.
    kivu5::TestResult RunInternalSendAndReceiveTest(CSerialPort& port);
    kivu5::TestResult SendAndReceiveAtBaudRate(CSerialPort& port, unsigned rate, unsigned char divisor);
    bool CheckLineStatusErrors(CSerialPort& port);
    // Part 5.4.
    kivu5::TestResult RunExternalRegisterTest(CSerialPort& port);
    // Part 5.5.
    bool LoadBaudRates(CSerialPort& port);
    void ValidateBaudRates(CSerialPort& port, CBaudRateList list);
    // Part 5.6.
    kivu5::TestResult RunExternalLoopbackTest(CSerialPort& port);
    kivu5::TestResult LoopbackAtBaudRate(CSerialPort& port, unsigned rate);

    CBaudRateList m_BaudRates;
};

// Module-wide state of Part 2.3.
extern CBaudRateList& g_DefaultBaudRates;
extern bool g_PromptForLoopback;

// The catalogue of Part 2.2: one handle per framework object, set once during static initialisation.
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

// The tests of Part 2.1 (their handles live in tarnserialport; the external tests' names are prompt
// captions).
extern kivu5::Test* g_TestExternalRegisterTest;
extern kivu5::Test* g_TestExternalLoopbackTest;

// Static initialisation of Part 2.1, steps 1 to 4 (the catalogue up to the parameters), step 5 (the release
// of g_DefaultBaudRates at exit) and step 7 (BadDevicePointer); tarnserialport runs them in order.
void CreateCatalogue();
void RegisterDefaultBaudRatesRelease();
void CreateBadDevicePointer();
