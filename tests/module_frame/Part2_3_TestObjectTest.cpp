// Part 2.3: the test object. The class-wide test ID mtestID, the default baud-rate list g_DefaultBaudRates
// (filled once, only by objects with ID 4) and the adapter-prompt flag g_PromptForLoopback.
#include "support/SimFixture.h"
#include "support/Timeline.h"

#include "SerialPortTest.h"

#include <string>
#include <vector>

using kivu5::TestResult;

namespace {

const CBaudRateList DEFAULT_RATES = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                     19200, 38400, 56000, 57600, 115200, 128000, 256000};

tarnsim::Scenario OnePort(const tarnsim::AttachedConfig& attached) {
    tarnsim::PortConfig port;
    port.com = 1;
    port.io = std::vector<uint32_t>{0x3F8};
    port.attached = attached;
    tarnsim::Scenario scenario;
    scenario.ports.push_back(port);
    return scenario;
}

} // namespace

class Part2_3_TestObject : public tarntest::SimTest {};

// Edge case: building an object for an ID other than 4 leaves g_DefaultBaudRates untouched.
TEST_F(Part2_3_TestObject, ObjectsForIdsOtherThan4LeaveDefaultBaudRatesUntouched) {
    for (int id : {1, 2, 3, 5, 0, 6, -1, 40}) {
        CSerialPortTest test(id);
        EXPECT_TRUE(g_DefaultBaudRates.empty()) << "ID " << id;
    }
    g_DefaultBaudRates = {1234, 5678};
    for (int id : {1, 2, 3, 5}) {
        CSerialPortTest test(id);
    }
    EXPECT_EQ(g_DefaultBaudRates, (CBaudRateList{1234, 5678}));
}

TEST_F(Part2_3_TestObject, FirstObjectWithId4FillsTheFifteenDefaultRatesInOrder) {
    {
        CSerialPortTest test(4);
        EXPECT_EQ(g_DefaultBaudRates, DEFAULT_RATES);
    }
    EXPECT_EQ(g_DefaultBaudRates, DEFAULT_RATES) << "the destructor leaves the module-wide list alone";
}

// Edge case: a second object with ID 4 does not refill it.
TEST_F(Part2_3_TestObject, SecondObjectWithId4DoesNotRefillTheDefaultList) {
    { CSerialPortTest first(4); }
    { CSerialPortTest second(4); }
    EXPECT_EQ(g_DefaultBaudRates, DEFAULT_RATES) << "not appended twice";

    g_DefaultBaudRates = {9600}; // any list with at least one entry counts as filled
    { CSerialPortTest third(4); }
    EXPECT_EQ(g_DefaultBaudRates, CBaudRateList{9600});

    CSerialPortTest::InitDefaultBaudRates();
    EXPECT_EQ(g_DefaultBaudRates, CBaudRateList{9600});
    g_DefaultBaudRates.clear();
    CSerialPortTest::InitDefaultBaudRates();
    EXPECT_EQ(g_DefaultBaudRates, DEFAULT_RATES);
}

// Edge case: after an object with ID 3 is destroyed, mtestID still reads 3.
TEST_F(Part2_3_TestObject, MtestIDStillReads3AfterTheObjectWithId3IsDestroyed) {
    CSerialPortTest::mtestID = 0;
    { CSerialPortTest test(3); }
    EXPECT_EQ(CSerialPortTest::mtestID, 3);

    // The same through the entry function of ID 3, on a device that ends the run at once (NODEVICE).
    Use(tarnsim::Scenario::BuiltIn());
    CSerialPortTest::mtestID = 0;
    kivu5::DiagDevice device("NOPORT");
    kivu5::RunOutcome outcome = Run("InternalSendAndReceiveTest", device);
    EXPECT_EQ(outcome.result, TestResult::NODEVICE());
    EXPECT_EQ(CSerialPortTest::mtestID, 3);
}

TEST_F(Part2_3_TestObject, EveryConstructorWritesMtestIDWithAnyValue) {
    for (int id : {1, 5, 0, -7, 6, 1000}) {
        CSerialPortTest test(id);
        EXPECT_EQ(CSerialPortTest::mtestID, id);
    }
    CSerialPortTest outer(2);
    { CSerialPortTest inner(5); }
    EXPECT_EQ(CSerialPortTest::mtestID, 5) << "the last object built, not the one alive";
}

// Only a run of test ID 4 fills the list; the internal tests and ID 5 never touch it.
TEST_F(Part2_3_TestObject, OnlyAnExternalLoopbackRunFillsTheDefaultList) {
    Use(OnePort(tarnsim::AttachedConfig::Loopback()));
    EXPECT_EQ(Run("InternalRegisterTest").result, TestResult::PASS());
    EXPECT_EQ(Run("ExternalRegisterTest").result, TestResult::PASS());
    EXPECT_TRUE(g_DefaultBaudRates.empty());
    SetParameter("BaudRates", kivu5::Value::Uint32Array({9600}));
    EXPECT_EQ(Run("ExternalLoopbackTest").result, TestResult::PASS());
    EXPECT_EQ(g_DefaultBaudRates, DEFAULT_RATES)
        << "filled when the object is built, even if the run uses its own list";
}

// Edge case: a failing external test leaves g_PromptForLoopback true (and a passing one clears it).
TEST_F(Part2_3_TestObject, FailingExternalTestLeavesPromptFlagTrue) {
    Use(OnePort(tarnsim::AttachedConfig::None())); // no plug: DSR and CTS stay clear
    EXPECT_EQ(Run("ExternalRegisterTest").result, (TestResult::FAIL)());
    EXPECT_TRUE(g_PromptForLoopback);
    SetParameter("BaudRates", kivu5::Value::Uint32Array({9600}));
    EXPECT_EQ(Run("ExternalLoopbackTest").result, (TestResult::FAIL)());
    EXPECT_TRUE(g_PromptForLoopback);

    Use(OnePort(tarnsim::AttachedConfig::Loopback()));
    EXPECT_EQ(Run("ExternalRegisterTest").result, TestResult::PASS());
    EXPECT_FALSE(g_PromptForLoopback) << "a passing external test clears it";
    Use(OnePort(tarnsim::AttachedConfig::None()));
    EXPECT_EQ(Run("ExternalRegisterTest").result, (TestResult::FAIL)());
    EXPECT_FALSE(g_PromptForLoopback) << "nothing sets it back";
}

// Edge case: an aborted external test leaves g_PromptForLoopback true.
TEST_F(Part2_3_TestObject, AbortedExternalTestLeavesPromptFlagTrue) {
    Use(OnePort(tarnsim::AttachedConfig::Loopback()));
    AnswerPrompts(kivu5::MSGBOX_RETURN_CANCEL); // answer 150
    EXPECT_EQ(Run("ExternalRegisterTest").result, TestResult::USERABORTED());
    EXPECT_TRUE(g_PromptForLoopback);
    EXPECT_EQ(Run("ExternalLoopbackTest").result, TestResult::USERABORTED());
    EXPECT_TRUE(g_PromptForLoopback);

    AnswerPrompts(kivu5::MSGBOX_RETURN_OK);
    SetParameter("BaudRates", kivu5::Value::Uint32Array({9600}));
    StopAfterChecks(1); // the dispatcher's check passes, the loopback pass's first check stops it
    EXPECT_EQ(Run("ExternalLoopbackTest").result, TestResult::USERABORTED());
    EXPECT_TRUE(g_PromptForLoopback);

    StopAfterChecks(0); // the dispatcher's own stop check
    EXPECT_EQ(Run("ExternalRegisterTest").result, TestResult::USERABORTED());
    EXPECT_TRUE(g_PromptForLoopback);
}
