// Fault: a modem that starts answering only during the second attempt of DetectModem (Part 3.2), as a
// modem that finishes powering up while the screen runs. The hook gives the attached device its reply just
// before the second "AT\r" WriteFile, so the first attempt hears nothing and the second reads "OK\r".
#include "FaultSupport.h"

namespace tarnfaults {
namespace {

using kivu5::TestResult;

class Fault_ModemAnswersLate : public FaultTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(Fault_ModemAnswersLate, OnTheSecondAttemptEndsCannotRunWithNotTestableRatePutBackPortClosed) {
    tarnsim::Scenario scenario = BuiltInAt600();
    scenario.ports[0].attached = tarnsim::AttachedConfig::None(); // nothing answers at first
    UseScenario(scenario);
    OnCall("WriteFile", [this](unsigned n) {
        if (n == 2) {
            Sim().Attached(0).reply = std::string("\r\nOK\r\n");
        }
    });
    kivu5::RunOutcome out = Run(GetParam());

    // Part 3.1 step 10: NotTestable (informative), "Modem detected.", CANNOTRUN; the port is never opened
    // for the body. Part 3.2 steps 5 and 6: the previous rate is configured again and the port closed.
    EXPECT_EQ(out.result, TestResult::CANNOTRUN());
    EXPECT_EQ(Said(out),
              std::vector<std::string>(
                  {"log 1 ==>PORT NUMBER: 1", "progress ValidityCheck {PortNumber:text=COM1}", "percent 0",
                   "event informative NotTestable {PortNumber:text=COM1}", "log 2 Port COM1: Modem detected.",
                   "progress TestComplete {PortNumber:text=COM1}", "percent 100"}));
    EXPECT_EQ(Calls("WriteFile"), 2u); // two attempts
    EXPECT_EQ(Calls("ReadFile"), 2u);
    EXPECT_EQ(Calls("CreateFileW"), 2u); // the two screens; the dispatcher's Open never comes
    EXPECT_EQ(Calls("CloseHandle"), 2u);
    EXPECT_EQ(ConfiguredRates(), std::vector<unsigned>({9600, RATE_BEFORE}));
    EXPECT_EQ(Sim().CurrentBaud(0), RATE_BEFORE);
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
    EXPECT_EQ(kivu5::Framework::stopChecks(), 0u); // the dispatcher's stop check comes after the screens
    // Both waits were made (350 ms and 450 ms): the late answer is found only by the second read.
    EXPECT_GE(ElapsedMs(), 800.0);
    EXPECT_LE(ElapsedMs(), DetectModemMs() + SLACK_MS);
}

INSTANTIATE_TEST_SUITE_P(BothExternalTests, Fault_ModemAnswersLate,
                         ::testing::Values("ExternalLoopbackTest", "ExternalRegisterTest"));

class Fault_ModemScreen : public FaultTest {};

TEST_F(Fault_ModemScreen, AnInternalTestNeverLooksForAModem) {
    tarnsim::Scenario scenario = BuiltInAt600();
    scenario.ports[0].attached = tarnsim::AttachedConfig::Modem();
    UseScenario(scenario);
    kivu5::RunOutcome out = Run("InternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Calls("WriteFile"), 0u);
    EXPECT_EQ(Sim().OpenHandleCount(), 0u);
}

} // namespace
} // namespace tarnfaults
