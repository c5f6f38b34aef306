// The process entry, the order in which the module's framework objects are created, the registration of
// the five tests, the callback that attaches parameters to them, and the five test entry functions.
#include "tarnserialport.h"

#include "SerialPortTest.h"

#include <cstdint>

using kivu5::DiagDevice;
using kivu5::DiagModule;
using kivu5::TestResult;

namespace {
const char* const SOURCE_FILE = "tarnserialport";
}

// The five tests, in the order they are registered; the external tests' names caption the adapter prompt.
kivu5::Test* g_TestExternalRegisterTest = nullptr;
kivu5::Test* g_TestExternalLoopbackTest = nullptr;
kivu5::Test* g_TestInternalRegisterTest = nullptr;
kivu5::Test* g_TestInternalControlSignalsTest = nullptr;
kivu5::Test* g_TestInternalSendAndReceiveTest = nullptr;

namespace {

// main and the five test functions trace through this logger; RunTest and every message use the second
// one (SerialPortTest.cpp). Both are made on first use.
qen::Logger* g_MainLogger = nullptr;

qen::Logger* MainLogger() {
    if (g_MainLogger == nullptr) {
        qen::LogFactory::createLogger("tarnserialport", g_MainLogger);
    }
    return g_MainLogger;
}

kivu5::Test* CreateSerialPortTest(const char* name, TestResult (*entry)(const DiagDevice&)) {
    return DiagModule::createTest(name, kivu5::DeviceCapability::SerialPort(), entry)
        ->addDevicePropertyRequirement("ComPortNumber", "")
        ->addDevicePropertyRequirement("IoBaseAddresses", "");
}

// Everything the module registers is created before main, in one fixed order: the framework lists its
// events, texts, parameters and tests in creation order. One object in one translation unit, so that the
// order holds whatever order the linker gives the module's sources.
struct CModuleStaticInitialisation {
    CModuleStaticInitialisation() {
        CreateCatalogue(); // texts, events, parameters
        RegisterDefaultBaudRatesRelease();
        g_TestExternalRegisterTest = CreateSerialPortTest("ExternalRegisterTest", ExternalRegisterTest);
        g_TestExternalLoopbackTest = CreateSerialPortTest("ExternalLoopbackTest", ExternalLoopbackTest);
        g_TestInternalRegisterTest = CreateSerialPortTest("InternalRegisterTest", InternalRegisterTest);
        g_TestInternalControlSignalsTest =
            CreateSerialPortTest("InternalControlSignalsTest", InternalControlSignalsTest);
        g_TestInternalSendAndReceiveTest =
            CreateSerialPortTest("InternalSendAndReceiveTest", InternalSendAndReceiveTest);
        CreateBadDevicePointer();
        CreatePortNamePrefix();
    }
} g_ModuleStaticInitialisation;

// Each entry function opens its own trace scope at its own line, so the trace names the function.
qen::Logger* EntryTraceLogger() {
    return qen::LogGate::ForTrace(MainLogger());
}

// One test object per run; it ends with the call on every way out, an exception included.
TestResult RunTestObject(int testID, const DiagDevice& device) {
    CSerialPortTest test(testID);
    return test.RunTest(device);
}

} // namespace

int main(int argc, char** argv) {
    qen::TraceLogger trace(qen::LogGate::ForTrace(MainLogger()), "main", SOURCE_FILE, __LINE__);
    try {
        DiagModule::setCmdLineArgs(argc, argv);
        DiagModule::setVersion(5, 0, "000000001");
        DiagModule::setModuleInitCallback(AddTestParameters);
        int rc = DiagModule::start();
        return rc;
    } catch (const qen::Exception& e) {
        static const int32_t END_OF_MESSAGE = 0; // the stream's third operation ends the message
        qen::cerr << "exception caught: " << e.getMessage() << &END_OF_MESSAGE;
        return TestResult::EXITEDABNORMALLY().value();
    }
}

void AddTestParameters() {
    g_TestExternalLoopbackTest->addParameter(g_ParamBaudRates);
    g_TestExternalLoopbackTest->addParameter(g_ParamPromptUserForLoopBack);
    g_TestExternalRegisterTest->addParameter(g_ParamPromptUserForLoopBack);
}

TestResult InternalControlSignalsTest(const DiagDevice& device) {
    qen::TraceLogger trace(EntryTraceLogger(), "InternalControlSignalsTest", SOURCE_FILE, __LINE__);
    return RunTestObject(INTERNAL_CONTROL_SIGNALS_TEST_ID, device);
}

TestResult InternalRegisterTest(const DiagDevice& device) {
    qen::TraceLogger trace(EntryTraceLogger(), "InternalRegisterTest", SOURCE_FILE, __LINE__);
    return RunTestObject(INTERNAL_REGISTER_TEST_ID, device);
}

TestResult InternalSendAndReceiveTest(const DiagDevice& device) {
    qen::TraceLogger trace(EntryTraceLogger(), "Serial Port Internal Send and Receive Test", SOURCE_FILE,
                           __LINE__);
    return RunTestObject(INTERNAL_SEND_AND_RECEIVE_TEST_ID, device);
}

TestResult ExternalLoopbackTest(const DiagDevice& device) {
    qen::TraceLogger trace(EntryTraceLogger(), "ExternalLoopbackTest", SOURCE_FILE, __LINE__);
    return RunTestObject(EXTERNAL_LOOPBACK_TEST_ID, device);
}

TestResult ExternalRegisterTest(const DiagDevice& device) {
    qen::TraceLogger trace(EntryTraceLogger(), "ExternalRegisterTest", SOURCE_FILE, __LINE__);
    return RunTestObject(EXTERNAL_REGISTER_TEST_ID, device);
}
