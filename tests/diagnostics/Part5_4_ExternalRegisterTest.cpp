// Part 5.4: the external register test (test ID 5) switches DTR and RTS through SetCommState and reads DSR
// and CTS through GetCommModemStatus, with a loopback plug on the connector.
#include "DiagnosticsSupport.h"

#include <cstdlib>
#include <regex>

namespace tarndiag {
namespace {

using kivu5::TestResult;

class Part5_4_ExternalRegisterTest : public DiagTest {
protected:
    static tarnsim::Scenario Plugged(tarnsim::AttachedConfig attached) {
        tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
        scenario.ports[0].attached = attached;
        scenario.ports[0].os.baud = 19200; // the saved rate, distinct from the test's 9600
        return scenario;
    }
};

TEST_F(Part5_4_ExternalRegisterTest, PromptCarriesExactlyItsArgumentsBeforeThePortIsConfigured) {
    Use(Plugged(tarnsim::AttachedConfig::Loopback()));
    size_t bodyCallsBeforePrompt = 99;
    kivu5::HostHooks& hooks = kivu5::Framework::hooks();
    auto answer = hooks.answerPrompt;
    hooks.answerPrompt = [answer, &bodyCallsBeforePrompt](const kivu5::PromptRequest& request) {
        bodyCallsBeforePrompt = BodyEntries().size();
        return answer(request);
    };
    kivu5::RunOutcome out = Run("ExternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    std::vector<kivu5::TimelineEntry> prompts = Prompts(out);
    ASSERT_EQ(prompts.size(), 1u);
    ExpectAdapterPromptArguments(prompts[0], "ExternalRegisterTest");
    EXPECT_EQ(bodyCallsBeforePrompt, 0u); // the prompt comes first in the body
}

TEST_F(Part5_4_ExternalRegisterTest, CorrectPlugPassesWithoutEventClearsTheFlagAndTheNextRunDoesNotPrompt) {
    Use(Plugged(tarnsim::AttachedConfig::Loopback()));
    kivu5::RunOutcome out = Run("ExternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed({PROMPT_OK}));
    EXPECT_FALSE(g_PromptForLoopback);
    EXPECT_EQ(Sim().CurrentBaud(0), 19200u);
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>({9600, 19200}));

    ClearTrace();
    kivu5::RunOutcome next = Run("ExternalRegisterTest");
    EXPECT_EQ(next.result, TestResult::PASS());
    EXPECT_EQ(Said(next), Framed({}));
}

TEST_F(Part5_4_ExternalRegisterTest, NoPlugRaisesDtrStuckLowAndCtsStuckLowRestoresTheRateAndKeepsTheFlag) {
    Use(Plugged(tarnsim::AttachedConfig::None()));
    kivu5::RunOutcome out = Run("ExternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out),
              Framed({PROMPT_OK, "event error DTR_StuckLow {PortNumber:text=COM1}",
                      "log 4 Port: COM1 DTR stuck low", "event error CTS_STuckLow {PortNumber:text=COM1}",
                      "log 4 Port: COM1 CTS stuck low"}));
    EXPECT_TRUE(g_PromptForLoopback);
    EXPECT_EQ(Sim().CurrentBaud(0), 19200u);
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>({9600, 19200}));
}

TEST_F(Part5_4_ExternalRegisterTest, DsrHeldHighOutsideThePortRaisesOnlyDtrStuckHigh) {
    tarnsim::AttachedConfig plug = tarnsim::AttachedConfig::Loopback();
    plug.dsr = tarnsim::AttachedConfig::Hold::High;
    Use(Plugged(plug));
    kivu5::RunOutcome out = Run("ExternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed({PROMPT_OK, "event error DTR_StuckHigh {PortNumber:text=COM1}",
                                 "log 4 Port: COM1 DTR stuck high"}));
    EXPECT_TRUE(g_PromptForLoopback);
}

TEST_F(Part5_4_ExternalRegisterTest, CtsHeldHighOutsideThePortRaisesOnlyCtsStuckHigh) {
    tarnsim::AttachedConfig plug = tarnsim::AttachedConfig::Loopback();
    plug.cts = tarnsim::AttachedConfig::Hold::High;
    Use(Plugged(plug));
    kivu5::RunOutcome out = Run("ExternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed({PROMPT_OK, "event error CTS_StuckHigh {PortNumber:text=COM1}",
                                 "log 4 Port: COM1 CTS stuck high"}));
}

TEST_F(Part5_4_ExternalRegisterTest, PromptParameterFalseShowsNoPromptEvenOnTheFirstRun) {
    Use(Plugged(tarnsim::AttachedConfig::Loopback()));
    SetParameter("PromptUserForLoopBack", kivu5::Value::Bool(false));
    kivu5::RunOutcome out = Run("ExternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed({}));
    EXPECT_FALSE(g_PromptForLoopback);
}

TEST_F(Part5_4_ExternalRegisterTest, FlagAlreadyFalseShowsNoPromptWithTheParameterTrue) {
    Use(Plugged(tarnsim::AttachedConfig::Loopback()));
    g_PromptForLoopback = false;
    kivu5::RunOutcome out = Run("ExternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed({}));
}

TEST_F(Part5_4_ExternalRegisterTest, FlagAlreadyFalseDoesNotEvenReadTheParameter) {
    Use(Plugged(tarnsim::AttachedConfig::Loopback()));
    // In a child process: with the parameter's handle taken away, a read of it would crash the child.
    EXPECT_EXIT(
        {
            g_PromptForLoopback = false;
            g_ParamPromptUserForLoopBack = nullptr;
            kivu5::RunOutcome out = Run("ExternalRegisterTest");
            std::exit(out.result == TestResult::PASS() && Prompts(out).empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(Part5_4_ExternalRegisterTest, PromptAnsweredCancelIsUserAbortedWithoutTouchingThePort) {
    Use(Plugged(tarnsim::AttachedConfig::Loopback()));
    AnswerPrompts(kivu5::MSGBOX_RETURN_CANCEL);
    kivu5::RunOutcome out = Run("ExternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::USERABORTED());
    EXPECT_EQ(Said(out), Framed({PROMPT_CANCEL, "log 2 Port COM1: User aborted"}));
    EXPECT_EQ(BodyWin32Ops(), std::vector<std::string>({"CloseHandle() -> TRUE"})); // the dispatcher's Close
    EXPECT_TRUE(g_PromptForLoopback);
}

TEST_F(Part5_4_ExternalRegisterTest, FailingConfigureAt9600GivesOneFailedSetupWarningAndNoFurtherConfigure) {
    Use(Plugged(tarnsim::AttachedConfig::Loopback()));
    // Only in the body: the modem screen also configures 9600, and would take the failure for a modem.
    AtOpen(3, [this] { Sim().Os(0).failConfigureAt = {9600}; });
    kivu5::RunOutcome out = Run("ExternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out),
              Framed({PROMPT_OK, "event warning FailedSetup {PortNumber:text=COM1, BaudRate:uint=9600}",
                      "log 3 Can't Open driver"}));
    EXPECT_EQ(BodyCallNames(), std::vector<std::string>({"GetCommState", "SetupComm", "BuildCommDCBW",
                                                         "SetCommState", "CloseHandle"}));
    EXPECT_EQ(BodyOps({"Sleep"}), std::vector<std::string>());
    EXPECT_TRUE(g_PromptForLoopback);
}

TEST_F(Part5_4_ExternalRegisterTest, FourStepsEachSetCommStateThenSleep10ThenGetCommModemStatusInOrder) {
    Use(Plugged(tarnsim::AttachedConfig::Loopback()));
    kivu5::RunOutcome out = Run("ExternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    std::vector<tarnos::TraceEntry> entries =
        BodyEntries({"GetCommState", "SetCommState", "Sleep", "GetCommModemStatus"});
    // Configure(9600): GetCommState, SetCommState; GetState; four steps of three; Configure(saved).
    ASSERT_EQ(entries.size(), 2u + 1u + 4u * 3u + 2u);
    const tarnos::TraceEntry& getState = entries[2];
    ASSERT_EQ(getState.call, "GetCommState");
    std::string dcb = getState.result.substr(getState.result.find('{'));
    EXPECT_NE(dcb.find("baud=9600"), std::string::npos) << dcb;
    std::smatch rts;
    ASSERT_TRUE(std::regex_search(dcb, rts, std::regex("rts=(\\d+)")));
    auto with = [&dcb](int dtr, const std::string& rtsValue) {
        return std::regex_replace(dcb, std::regex("dtr=\\d+ rts=\\d+"),
                                  "dtr=" + std::to_string(dtr) + " rts=" + rtsValue);
    };
    // The block carries the earlier changes: step 3 runs with DTR on; the other fields stay as read.
    const std::string steps[4] = {with(0, rts[1]), with(1, rts[1]), with(1, "0"), with(1, "1")};
    for (int step = 0; step < 4; ++step) {
        SCOPED_TRACE(step + 1);
        const tarnos::TraceEntry& set = entries[3 + 3 * static_cast<size_t>(step)];
        EXPECT_EQ(set.call, "SetCommState");
        EXPECT_EQ(set.args.at(1), steps[step]);
        EXPECT_EQ(Op(entries[4 + 3 * static_cast<size_t>(step)], false), SleepOp(10));
        EXPECT_EQ(entries[5 + 3 * static_cast<size_t>(step)].call, "GetCommModemStatus");
    }
    EXPECT_EQ(entries[15].call, "GetCommState");
    EXPECT_EQ(entries[16].call, "SetCommState");
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>({9600, 19200}));
}

TEST_F(Part5_4_ExternalRegisterTest, UnreadableModemStatusCountsAsAllLinesClear) {
    tarnsim::Scenario scenario = Plugged(tarnsim::AttachedConfig::Loopback());
    scenario.ports[0].os.fail = {"GetCommModemStatus"};
    Use(scenario);
    kivu5::RunOutcome out = Run("ExternalRegisterTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out),
              Framed({PROMPT_OK, "event error DTR_StuckLow {PortNumber:text=COM1}",
                      "log 4 Port: COM1 DTR stuck low", "event error CTS_STuckLow {PortNumber:text=COM1}",
                      "log 4 Port: COM1 CTS stuck low"}));
    EXPECT_EQ(Sim().CurrentBaud(0), 19200u);
}

} // namespace
} // namespace tarndiag
