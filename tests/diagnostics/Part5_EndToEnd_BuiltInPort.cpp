// Parts 5.1 to 5.6 end to end: each of the five tests through the module's own main and entry function, as
// the framework's process runs them (main hands over to start(), which calls the test's entry function), on
// the built-in scenario: one healthy 16550A port with a loopback plug. All five pass.
#include "DiagnosticsSupport.h"

#include "support/TestHost.h"

namespace tarndiag {
namespace {

using kivu5::TestResult;

class Part5_EndToEnd_BuiltInPort : public DiagTest {
protected:
    void TearDown() override {
        tarntest::SetStartBehaviour(nullptr);
        DiagTest::TearDown();
    }

    // main -> DiagModule::start() -> the framework host -> the entry function on the scenario's device.
    kivu5::RunOutcome RunEntry(kivu5::TestResult (*entry)(const kivu5::DiagDevice&)) {
        kivu5::RunOutcome out;
        kivu5::DiagDevice device = tarnsim::MakeDevice(Sim().GetScenario().ports.at(0));
        tarntest::SetStartBehaviour([&out, &device, entry] {
            kivu5::Framework::beginRun();
            out.result = entry(device);
            out.timeline = kivu5::Framework::timeline();
            return 0;
        });
        EXPECT_EQ(tarntest::CallModuleMain({"tarnserialport"}), 0);
        return out;
    }
};

TEST_F(Part5_EndToEnd_BuiltInPort, InternalControlSignalsTestPasses) {
    Use(tarnsim::Scenario::BuiltIn());
    kivu5::RunOutcome out = RunEntry(InternalControlSignalsTest);
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed({}));
    EXPECT_EQ(CSerialPortTest::mtestID, INTERNAL_CONTROL_SIGNALS_TEST_ID);
}

TEST_F(Part5_EndToEnd_BuiltInPort, InternalRegisterTestPasses) {
    Use(tarnsim::Scenario::BuiltIn());
    kivu5::RunOutcome out = RunEntry(InternalRegisterTest);
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed({}));
    EXPECT_EQ(CSerialPortTest::mtestID, INTERNAL_REGISTER_TEST_ID);
}

TEST_F(Part5_EndToEnd_BuiltInPort, InternalSendAndReceiveTestPasses) {
    Use(tarnsim::Scenario::BuiltIn());
    TraceOff();
    kivu5::RunOutcome out = RunEntry(InternalSendAndReceiveTest);
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(tarntest::EventNames(out.timeline), std::vector<std::string>());
    EXPECT_EQ(tarntest::Percentages(out.timeline),
              std::vector<int>({0, 2, 13, 24, 35, 46, 57, 68, 79, 90, 100}));
    EXPECT_EQ(CSerialPortTest::mtestID, INTERNAL_SEND_AND_RECEIVE_TEST_ID);
}

TEST_F(Part5_EndToEnd_BuiltInPort, ExternalLoopbackTestPasses) {
    Use(tarnsim::Scenario::BuiltIn());
    kivu5::RunOutcome out = RunEntry(ExternalLoopbackTest);
    EXPECT_EQ(out.result, TestResult::PASS());
    // The default list: 110, 600 and 256000 are rejected, the other twelve pass.
    EXPECT_EQ(tarntest::EventNames(out.timeline), std::vector<std::string>(3, "InvalidBaudRateConfig"));
    EXPECT_FALSE(g_PromptForLoopback);
    EXPECT_EQ(CSerialPortTest::mtestID, EXTERNAL_LOOPBACK_TEST_ID);
}

TEST_F(Part5_EndToEnd_BuiltInPort, ExternalRegisterTestPasses) {
    Use(tarnsim::Scenario::BuiltIn());
    kivu5::RunOutcome out = RunEntry(ExternalRegisterTest);
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed({PROMPT_OK}));
    EXPECT_FALSE(g_PromptForLoopback);
    EXPECT_EQ(CSerialPortTest::mtestID, EXTERNAL_REGISTER_TEST_ID);
}

} // namespace
} // namespace tarndiag
