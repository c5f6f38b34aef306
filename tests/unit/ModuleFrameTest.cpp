// What a run through the program cannot show: the order in which the module creates its framework objects,
// main's answer to an exception, test IDs no test has, and the state kept from run to run.
#include "SerialPortTest.h"
#include "UnitSupport.h"

#include "kivu5/Framework.h"

#include <gtest/gtest.h>

#include <sstream>

#include <unistd.h>

using kivu5::Framework;
using kivu5::TestResult;

int TarnSerialPortMain(int argc, char** argv); // the module's main, renamed in this program

namespace tarntest {
namespace {

int CallMain() {
    char name[] = "tarnserialport";
    char* argv[] = {name, nullptr};
    return TarnSerialPortMain(1, argv);
}

TEST(ModuleFrame, CreatesItsObjectsInTheOrderTheFrameworkListsThem) {
    std::ostringstream order;
    for (const std::string& entry : Framework::creationLog()) {
        order << entry.substr(entry.find(' ') + 1) << ' ';
    }
    EXPECT_EQ(
        order.str(),
        "ValidityCheck NotTestable FailedGetBaudRate FailedSendRecieveTest EnumerationError "
        "TransmitTimeout MiscompareError BaudMiscompareError FramingError ParityError OverrunError "
        "AccessDeniedFailure UnableToOpenPort FailedSetup DTR_StuckHigh DTR_StuckLow CTS_StuckHigh "
        "CTS_STuckLow NoValidBaudRateConfig InvalidBaudRateConfig WriteCompletedShort IncorrectCharCount "
        "ReadDataIncorrect FailedControlSignalsTest FailedRegTest TestComplete LoopbackProgress "
        "PrgsSendReceive ConnectAdapterPrompt PromptUserForLoopBack BaudRates ExternalRegisterTest "
        "ExternalLoopbackTest InternalRegisterTest InternalControlSignalsTest InternalSendAndReceiveTest "
        "BadDevicePointer ");
}

TEST(ModuleFrame, MainReturnsWhatStartReturnsOrExitedAbnormallyOnAnException) {
    SetStartBehaviour([] { return 42; });
    EXPECT_EQ(CallMain(), 42);

    SetStartBehaviour([]() -> int { throw qen::Exception("settings unreadable"); });
    testing::internal::CaptureStderr();
    EXPECT_EQ(CallMain(), TestResult::EXITEDABNORMALLY().value());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "exception caught: settings unreadable\n");
    SetStartBehaviour(nullptr);
}

TEST(ModuleFrame, AnIdWithoutATestOpensAndClosesThePortAndIsAnInternalError) {
    for (int id : {0, 6}) {
        SimulatedPort sim;
        kivu5::RunOutcome outcome = sim.RunId(id);
        EXPECT_EQ(outcome.result, TestResult::INTERNALERROR()) << id;
        EXPECT_EQ(sim.Calls("CreateFileW"), 3u) << "two screens and the run's own open";
        EXPECT_EQ(sim.Calls("CloseHandle"), 3u) << "each open closed again";
        EXPECT_EQ(outcome.timeline.back().kind, kivu5::TimelineEntry::Percent);
        EXPECT_EQ(outcome.timeline.back().value, 100);
    }
}

TEST(ModuleFrame, StateKeptFromRunToRun) {
    size_t defaults = g_DefaultBaudRates.size();
    { CSerialPortTest internal(3); }
    EXPECT_EQ(CSerialPortTest::mtestID, 3) << "the last ID built, after its object is gone";
    EXPECT_EQ(g_DefaultBaudRates.size(), defaults) << "only the loopback test fills the default list";
    { CSerialPortTest loopback(4); }
    { CSerialPortTest again(4); }
    EXPECT_EQ(g_DefaultBaudRates.size(), 15u) << "filled once, never refilled";
}

TEST(ModuleFrame, WithoutTheBaudRatesParameterTheDefaultListIsUsedAndSaidAtOnce) {
    kivu5::Parameter* rates = g_ParamBaudRates;
    g_ParamBaudRates = nullptr;
    std::fflush(stdout);
    std::FILE* said = std::tmpfile();
    ASSERT_NE(said, nullptr);
    int savedStdout = dup(1);
    dup2(fileno(said), 1);
    SimulatedPort sim;
    kivu5::RunOutcome outcome = sim.RunId(4);
    char text[128] = {};
    lseek(fileno(said), 0, SEEK_SET);
    ssize_t length = read(fileno(said), text, sizeof text - 1); // before anything else flushes
    dup2(savedStdout, 1);
    close(savedStdout);
    std::fclose(said);
    g_ParamBaudRates = rates;
    EXPECT_EQ(std::string(text, length > 0 ? static_cast<size_t>(length) : 0),
              "\n*** Baud Rates listing is empty, resort to default value ***\n\n");
    EXPECT_EQ(outcome.result, TestResult::PASS()) << "the default list: twelve rates pass";
}

} // namespace
} // namespace tarntest
