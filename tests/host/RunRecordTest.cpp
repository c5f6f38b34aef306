// Exit statuses of formats.md section 1 from the runs' results, error counts and durations.
#include "host/RunRecord.h"
#include "host/HostError.h"
#include "host/TestTable.h"

#include "ReportFixtures.h"

#include <gtest/gtest.h>

namespace tarnhost {
namespace {

using kivu5::TestResult;
using tarnhosttest::RunWithResult;

int StatusOf(std::initializer_list<TestResult> results) {
    std::vector<RunRecord> runs;
    for (const TestResult& result : results) {
        runs.push_back(RunWithResult(result));
    }
    return ExitStatusFor(runs);
}

TEST(ExitStatus, PassAndNotSupportedGiveZero) {
    EXPECT_EQ(StatusOf({TestResult::PASS(), TestResult::NOTSUPPORTED()}), 0);
    EXPECT_EQ(StatusOf({TestResult::NOTSUPPORTED()}), 0);
}

TEST(ExitStatus, AnyFailGivesOneEvenBesideOtherResults) {
    EXPECT_EQ(StatusOf({TestResult::PASS(), (TestResult::FAIL)()}), 1);
    EXPECT_EQ(StatusOf({TestResult::USERABORTED(), (TestResult::FAIL)(), TestResult::CANNOTRUN()}), 1);
}

TEST(ExitStatus, EveryOtherResultGivesThree) {
    for (const TestResult& result :
         {TestResult::CANNOTRUN(), TestResult::USERABORTED(), TestResult::INTERNALERROR(),
          TestResult::NODEVICE(), TestResult::EXITEDABNORMALLY(), TestResult::TESTNOTSTARTED()}) {
        EXPECT_EQ(StatusOf({TestResult::PASS(), result}), 3) << result.name();
    }
}

TEST(ExitStatus, TheFixedNumbers) {
    EXPECT_EQ(EXIT_ALL_PASSED, 0);
    EXPECT_EQ(EXIT_SOME_FAILED, 1);
    EXPECT_EQ(EXIT_BAD_INPUT, 2);
    EXPECT_EQ(EXIT_NOT_PASSED, 3);
    EXPECT_EQ(EXIT_NOT_FOUND, 4);
}

TEST(RunRecord, ErrorCountCountsErrorEventsOnly) {
    EXPECT_EQ(tarnhosttest::FailingLoopbackRun().ErrorCount(), 2u); // two errors, one warning
    EXPECT_EQ(tarnhosttest::PassingRun("InternalRegisterTest", "COM1").ErrorCount(), 0u);
}

TEST(RunRecord, DurationSurvivesATickCounterWrap) {
    RunRecord run = RunWithResult(TestResult::PASS());
    run.outcome.startMs = 0xFFFFFF00u;
    run.outcome.endMs = 0x00000100u;
    EXPECT_EQ(run.DurationMs(), 0x200u);
}

TEST(TestTable, TheModulesIds) {
    EXPECT_EQ(TestId("InternalControlSignalsTest"), 1);
    EXPECT_EQ(TestId("InternalRegisterTest"), 2);
    EXPECT_EQ(TestId("InternalSendAndReceiveTest"), 3);
    EXPECT_EQ(TestId("ExternalLoopbackTest"), 4);
    EXPECT_EQ(TestId("ExternalRegisterTest"), 5);
    EXPECT_EQ(TestId("Nope"), 0);
}

} // namespace
} // namespace tarnhost
