// Part 5.6: the external loopback test (test ID 4) writes a 256-byte ramp in 8-byte pieces at each rate of
// the run's list, waits 1000 ms, reads once and checks the count and every byte within one of its position.
#include "DiagnosticsSupport.h"

namespace tarndiag {
namespace {

using kivu5::TestResult;

std::string Progress(unsigned rate) {
    return "progress LoopbackProgress {BaudRate:int=" + std::to_string(rate) + "}";
}

const char* const WRITE_SHORT_LOG = "log 4 Port: COM1 write completed short";
const char* const CHAR_COUNT_LOG = "log 4 Port: COM1 Incorrect char count";
const char* const READ_DATA_INCORRECT = "event error ReadDataIncorrect {PortNumber:text=COM1}";
const char* const READ_DATA_INCORRECT_LOG = "log 4 Port: COM1 Read data incorrect.";
const char* const STOP_LOG = "log 2 Port: COM1 User aborted";

std::string IncorrectCharCount(unsigned read) {
    return "event error IncorrectCharCount {PortNumber:text=COM1, DataRead:uint=" + std::to_string(read) +
           ", DataWritten:int=256}";
}

class Part5_6_ExternalLoopbackTest : public DiagTest {
protected:
    static tarnsim::Scenario Plugged(tarnsim::AttachedConfig attached = tarnsim::AttachedConfig::Loopback()) {
        tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
        scenario.ports[0].attached = attached;
        scenario.ports[0].os.baud = 4800; // the rate before the test, distinct from the rates tested
        return scenario;
    }
    void SetBaudRates(std::vector<uint32_t> rates) {
        SetParameter("BaudRates", kivu5::Value::Uint32Array(std::move(rates)));
    }
};

TEST_F(Part5_6_ExternalLoopbackTest, TwelveRatesShowPercentages2To93Then100) {
    Use(Plugged());
    SetBaudRates({300, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000});
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    // ValidityCheck's 0, the twelve passes, the test's own 100, the dispatcher's 100.
    EXPECT_EQ(tarntest::Percentages(out.timeline),
              std::vector<int>({0, 2, 10, 18, 27, 35, 43, 52, 60, 68, 77, 85, 93, 100, 100}));
}

TEST_F(Part5_6_ExternalLoopbackTest, OneRateShows2Then100) {
    Use(Plugged());
    SetBaudRates({9600});
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed({PROMPT_OK, Progress(9600), "percent 2", Progress(9600), "percent 100"}));
}

TEST_F(Part5_6_ExternalLoopbackTest, LoopbackProgressAsIntBeforeEachPassAndOnceAtTheEndWithTheLastRate) {
    Use(Plugged());
    SetBaudRates({19200, 38400, 57600});
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed({PROMPT_OK, Progress(19200), "percent 2", Progress(38400), "percent 35",
                                 Progress(57600), "percent 68", Progress(57600), "percent 100"}));
}

TEST_F(Part5_6_ExternalLoopbackTest,
       DriverAcceptingNoBytesGivesWriteCompletedShortThenIncorrectCharCountZero) {
    Use(Plugged());
    SetBaudRates({9600});
    // From the dispatcher's Open on: the modem screen would take a short write of "AT\r" for a modem.
    AtOpen(3, [this] { Sim().Attached(0).acceptPerWrite = 0u; });
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed({PROMPT_OK, Progress(9600), "percent 2",
                                 "event error WriteCompletedShort {PortNumber:text=COM1, TotalSent:uint=0, "
                                 "TotalExpected:int=256}",
                                 WRITE_SHORT_LOG, IncorrectCharCount(0), CHAR_COUNT_LOG, Progress(9600),
                                 "percent 100"}));
    EXPECT_EQ(BodyOps({"WriteFile"}).size(), 32u); // the writes go on
    EXPECT_EQ(BodyOps({"ReadFile"}).size(), 1u);   // and the read still follows
    EXPECT_TRUE(g_PromptForLoopback);
}

TEST_F(Part5_6_ExternalLoopbackTest,
       LoopbackDroppingByte100GivesOneIncorrectCharCountAndNoReadDataIncorrect) {
    tarnsim::AttachedConfig plug = tarnsim::AttachedConfig::Loopback();
    plug.drop = {100};
    Use(Plugged(plug));
    SetBaudRates({9600});
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed({PROMPT_OK, Progress(9600), "percent 2", IncorrectCharCount(255),
                                 CHAR_COUNT_LOG, Progress(9600), "percent 100"}));
}

TEST_F(Part5_6_ExternalLoopbackTest, TwoZerosAfterTheRampGiveIncorrectCharCount258AndTwoReadDataIncorrect) {
    tarnsim::AttachedConfig plug = tarnsim::AttachedConfig::Loopback();
    plug.appendZeros = 2;
    Use(Plugged(plug));
    SetBaudRates({9600});
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    // Positions 256 and 257 hold 0: no byte is accepted from position 257 on, and 0 is not 255..257.
    EXPECT_EQ(Said(out),
              Framed({PROMPT_OK, Progress(9600), "percent 2", IncorrectCharCount(258), CHAR_COUNT_LOG,
                      READ_DATA_INCORRECT, READ_DATA_INCORRECT_LOG, READ_DATA_INCORRECT,
                      READ_DATA_INCORRECT_LOG, Progress(9600), "percent 100"}));
}

TEST_F(Part5_6_ExternalLoopbackTest, ReplyOf256ZeroBytesGives254ReadDataIncorrectForPositions2To255) {
    Use(Plugged());
    SetBaudRates({9600});
    CZeroReplyWin32 zeros(Sim());
    tarnos::SetBackends(&zeros, &Sim());
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    std::vector<std::string> body = {PROMPT_OK, Progress(9600), "percent 2"};
    for (int position = 2; position < 256; ++position) {
        body.push_back(READ_DATA_INCORRECT);
        body.push_back(READ_DATA_INCORRECT_LOG);
    }
    body.push_back(Progress(9600));
    body.push_back("percent 100");
    EXPECT_EQ(Said(out), Framed(body));
    EXPECT_EQ(tarntest::Count(out.timeline, READ_DATA_INCORRECT), 254u);
}

TEST_F(Part5_6_ExternalLoopbackTest,
       StopAfterTheLastWriteAbortsRestoresTheRateShowsItWith100AndKeepsTheFlag) {
    Use(Plugged());
    SetBaudRates({19200, 38400});
    StopAfterChecks(32); // the dispatcher's check and 31 writes' checks; the 32nd write's check stops
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::USERABORTED());
    EXPECT_EQ(Said(out),
              Framed({PROMPT_OK, Progress(19200), "percent 2", STOP_LOG, Progress(19200), "percent 100"}));
    EXPECT_EQ(kivu5::Framework::stopChecks(), 33u);
    EXPECT_EQ(BodyOps({"WriteFile"}).size(), 32u);
    EXPECT_EQ(BodyOps({"ReadFile"}).size(), 0u);
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>({19200, 4800})); // 38400 is not tried
    EXPECT_EQ(Sim().CurrentBaud(0), 4800u);
    EXPECT_TRUE(g_PromptForLoopback);
}

TEST_F(Part5_6_ExternalLoopbackTest, StopAfterTheLastWriteOfTheSecondPassShowsTheSecondRate) {
    Use(Plugged());
    SetBaudRates({19200, 38400});
    StopAfterChecks(1 + 32 + 31);
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::USERABORTED());
    EXPECT_EQ(Said(out), Framed({PROMPT_OK, Progress(19200), "percent 2", Progress(38400), "percent 52",
                                 STOP_LOG, Progress(38400), "percent 100"}));
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>({19200, 4800, 38400, 4800}));
    EXPECT_TRUE(g_PromptForLoopback);
}

TEST_F(Part5_6_ExternalLoopbackTest, StopIsAskedAfterEveryWriteSoAStopAfterTheFirstWriteEndsThePassThere) {
    Use(Plugged());
    SetBaudRates({19200});
    StopAfterChecks(1);
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::USERABORTED());
    EXPECT_EQ(BodyOps({"WriteFile"}).size(), 1u);
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>({19200, 4800}));
}

TEST_F(Part5_6_ExternalLoopbackTest, PromptParameterFalseShowsNoPromptAndAPassStillClearsTheFlag) {
    Use(Plugged());
    SetBaudRates({9600});
    SetParameter("PromptUserForLoopBack", kivu5::Value::Bool(false));
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed({Progress(9600), "percent 2", Progress(9600), "percent 100"}));
    EXPECT_FALSE(g_PromptForLoopback);
}

TEST_F(Part5_6_ExternalLoopbackTest, NoPromptAfterAPassingExternalRegisterTestInTheSameProcess) {
    Use(Plugged());
    SetBaudRates({9600});
    kivu5::RunOutcome registers = Run("ExternalRegisterTest");
    ASSERT_EQ(registers.result, TestResult::PASS());
    ASSERT_EQ(Prompts(registers).size(), 1u);
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(Said(out), Framed({Progress(9600), "percent 2", Progress(9600), "percent 100"}));
}

TEST_F(Part5_6_ExternalLoopbackTest, FailedSetupAtTheFirstRateFailsAndShowsThatRateWith100) {
    tarnsim::Scenario scenario = Plugged();
    scenario.ports[0].os.failConfigureAt = {300};
    Use(scenario);
    SetBaudRates({300, 1200});
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(
        Said(out),
        Framed({PROMPT_OK, Progress(300), "percent 2", "event warning FailedSetup {PortNumber:text=COM1}",
                "log 4 Port: COM1 Failed setting port to baud rate", Progress(300), "percent 100"}));
    EXPECT_EQ(BodyOps({"WriteFile", "ReadFile"}), std::vector<std::string>());
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>({300})); // not restored on this path
    EXPECT_TRUE(g_PromptForLoopback);
}

TEST_F(Part5_6_ExternalLoopbackTest, PassWrites32PiecesOf8BytesThenWaits1000msAndReadsOnce512) {
    Use(Plugged());
    SetBaudRates({9600});
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    std::vector<std::string> expected = {SleepOp(10)};
    expected.insert(expected.end(), 32, "WriteFile(ptr, 8, ptr, NULL) -> TRUE written=8");
    expected.push_back(SleepOp(1000));
    expected.push_back("ReadFile(ptr, 512, ptr, NULL) -> TRUE read=256");
    EXPECT_EQ(BodyOps({"WriteFile", "Sleep", "ReadFile"}), expected);
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>({9600, 4800}));
    EXPECT_EQ(Sim().CurrentBaud(0), 4800u);
    EXPECT_FALSE(g_PromptForLoopback);
}

TEST_F(Part5_6_ExternalLoopbackTest, PromptCarriesExactlyItsArguments) {
    Use(Plugged());
    SetBaudRates({9600});
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    std::vector<kivu5::TimelineEntry> prompts = Prompts(out);
    ASSERT_EQ(prompts.size(), 1u);
    ExpectAdapterPromptArguments(prompts[0], "ExternalLoopbackTest");
}

TEST_F(Part5_6_ExternalLoopbackTest, PromptAnsweredCancelIsUserAbortedBeforeTheListIsTouched) {
    Use(Plugged());
    AnswerPrompts(kivu5::MSGBOX_RETURN_CANCEL);
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::USERABORTED());
    // The default list would raise three InvalidBaudRateConfig; no property is even read.
    EXPECT_EQ(Said(out), Framed({PROMPT_CANCEL, "log 2 Port COM1: User aborted"}));
    EXPECT_EQ(BodyCallNames(), std::vector<std::string>({"CloseHandle"}));
    EXPECT_TRUE(g_PromptForLoopback);
}

TEST_F(Part5_6_ExternalLoopbackTest, FailingPassEndsTheRunAndLaterRatesAreNotTried) {
    tarnsim::AttachedConfig plug = tarnsim::AttachedConfig::Loopback();
    plug.drop = {5};
    Use(Plugged(plug));
    SetBaudRates({9600, 19200});
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::FAIL());
    EXPECT_EQ(Said(out), Framed({PROMPT_OK, Progress(9600), "percent 2", IncorrectCharCount(255),
                                 CHAR_COUNT_LOG, Progress(9600), "percent 100"}));
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>({9600, 4800}));
    EXPECT_TRUE(g_PromptForLoopback);
}

TEST_F(Part5_6_ExternalLoopbackTest, EveryPassThatGotPastConfigureRestoresTheEarlierRate) {
    Use(Plugged());
    SetBaudRates({19200, 38400});
    kivu5::RunOutcome out = Run("ExternalLoopbackTest");
    EXPECT_EQ(out.result, TestResult::PASS());
    EXPECT_EQ(BodyConfiguredRates(), std::vector<unsigned>({19200, 4800, 38400, 4800}));
    // Each pass: 10 ms after the rate is set, 1000 ms before the read.
    EXPECT_EQ(BodyOps({"Sleep"}),
              std::vector<std::string>({SleepOp(10), SleepOp(1000), SleepOp(10), SleepOp(1000)}));
}

} // namespace
} // namespace tarndiag
