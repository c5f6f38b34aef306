// Part 1.1: the diagnostic framework's calls as the module relies on them, and the recorder's timeline.
#include "kivu5/Framework.h"
#include "support/Timeline.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(Part1_1_TestResult, NineDistinctConstantsComparableByValue) {
    using kivu5::TestResult;
    std::vector<TestResult> all = {
        TestResult::PASS(),         TestResult::FAIL(),           TestResult::USERABORTED(),
        TestResult::NOTSUPPORTED(), TestResult::CANNOTRUN(),      TestResult::INTERNALERROR(),
        TestResult::NODEVICE(),     TestResult::TESTNOTSTARTED(), TestResult::EXITEDABNORMALLY()};
    std::set<int> values;
    for (const TestResult& r : all) {
        values.insert(r.value());
        EXPECT_TRUE(r == r);
        EXPECT_FALSE(r != r);
    }
    EXPECT_EQ(values.size(), 9u);
    EXPECT_TRUE(TestResult::PASS() != TestResult::FAIL());
    TestResult copy = TestResult::CANNOTRUN();
    EXPECT_EQ(copy, TestResult::CANNOTRUN());
    EXPECT_STREQ(TestResult::EXITEDABNORMALLY().name(), "EXITEDABNORMALLY");
}

TEST(Part1_1_Value, BuiltFromIntUnsignedLongStringAndDataType) {
    kivu5::Value i(-3);
    kivu5::Value u(static_cast<unsigned long>(4294967295UL));
    kivu5::Value s(qen::String("COM3"));
    kivu5::Value a(kivu5::DataType::UINT32ARRAY());
    EXPECT_STREQ(i.typeName(), "int");
    EXPECT_EQ(i.number(), -3);
    EXPECT_STREQ(u.typeName(), "uint");
    EXPECT_EQ(u.number(), 4294967295LL);
    EXPECT_STREQ(s.typeName(), "text");
    EXPECT_EQ(s.text(), "COM3");
    EXPECT_EQ(a.Uint32ArraySize(), 0u);
}

TEST(Part1_1_Value, ArrayAndScalarReads) {
    kivu5::Value a = kivu5::Value::Uint32Array({9600, 115200});
    ASSERT_EQ(a.Uint32ArraySize(), 2u);
    EXPECT_EQ(a.getUint32InArray(0), 9600u);
    EXPECT_EQ(a.getUint32InArray(1), 115200u);
    EXPECT_EQ(kivu5::Value::Uint32(70000).valueUint32(), 70000u);
    EXPECT_TRUE(kivu5::Value::Bool(true).valueBool());
    EXPECT_FALSE(kivu5::Value::Bool(false).valueBool());
    kivu5::Value assigned(kivu5::DataType::UINT32ARRAY());
    assigned = a;
    EXPECT_EQ(assigned.Uint32ArraySize(), 2u);
}

TEST(Part1_1_DiagDevice, PropertyIsNullWhenTheDeviceLacksIt) {
    kivu5::DiagDevice device("COM3");
    EXPECT_EQ(device.property("ComPortNumber"), nullptr);
    device.setProperty("ComPortNumber", kivu5::Value::Uint32(3));
    ASSERT_NE(device.property("ComPortNumber"), nullptr);
    EXPECT_EQ(device.property("ComPortNumber")->value().valueUint32(), 3u);
}

class Part1_1_Recorder : public ::testing::Test {
protected:
    void SetUp() override { kivu5::Framework::beginRun(); }
    void TearDown() override { kivu5::Framework::setHooks(kivu5::HostHooks()); }
};

TEST_F(Part1_1_Recorder, EventVariablesAreRecordedInTheOrderSetAndClearedByTheRaise) {
    kivu5::Event event("BaudMiscompareError");
    event.setVariable("PortNumber", kivu5::Value(qen::String("COM1")))
        ->setVariable("BaudRate", kivu5::Value(2400UL))
        ->setVariable("ValueRead", kivu5::Value(7))
        ->setVariable("ExpectedValue", kivu5::Value(6));
    kivu5::DiagModule::error(&event, "SerialPortTest", 99);
    kivu5::DiagModule::warning(&event, "SerialPortTest", 100);
    const auto& t = kivu5::Framework::timeline();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(tarntest::Describe(t[0]),
              "event error BaudMiscompareError {PortNumber:text=COM1, BaudRate:uint=2400, "
              "ValueRead:int=7, ExpectedValue:int=6}");
    EXPECT_EQ(t[0].line, 99);
    EXPECT_EQ(tarntest::Describe(t[1]), "event warning BaudMiscompareError {}");
}

TEST_F(Part1_1_Recorder, ProgressPercentAndInformativeAreRecordedInOrder) {
    kivu5::LocalizedString text("ValidityCheck");
    text.setVariable("PortNumber", kivu5::Value(qen::String("COM2")));
    kivu5::DiagModule::progress(&text);
    kivu5::DiagModule::percentDone(0);
    kivu5::Event event("NotTestable");
    kivu5::DiagModule::informative(event.setVariable("PortNumber", kivu5::Value(qen::String("COM2"))),
                                   "SerialPortTest", 5);
    EXPECT_EQ(tarntest::Describe(kivu5::Framework::timeline()),
              (std::vector<std::string>{"progress ValidityCheck {PortNumber:text=COM2}", "percent 0",
                                        "event informative NotTestable {PortNumber:text=COM2}"}));
    EXPECT_EQ(text.localizedString().str(), "Checking COM2");
}

TEST_F(Part1_1_Recorder, MessageBoxRecordsEveryArgumentAndTheHostsAnswer) {
    kivu5::HostHooks hooks;
    std::string askedText;
    hooks.answerPrompt = [&](const kivu5::PromptRequest& r) {
        askedText = r.text;
        return kivu5::MSGBOX_RETURN_CANCEL;
    };
    kivu5::Framework::setHooks(hooks);
    kivu5::MsgBoxReturn answer = kivu5::DiagModule::createMessageBox(
        kivu5::MSGBOX_TYPE_OK_CANCEL, "Connect", "Caption", kivu5::MSGBOX_OPTION_DEFAULT_OK,
        kivu5::LOOKANDFEEL_QUESTION, nullptr, nullptr, nullptr, kivu5::FROM_SETTINGS_FILE(), 2000, true);
    EXPECT_EQ(answer, 150);
    EXPECT_EQ(askedText, "Connect");
    ASSERT_EQ(kivu5::Framework::timeline().size(), 1u);
    EXPECT_EQ(tarntest::Describe(kivu5::Framework::timeline()[0]),
              "prompt 10 option=40 look=80 nulls source=FROM_SETTINGS_FILE timeout=2000 modal -> 150");
    EXPECT_EQ(kivu5::Framework::timeline()[0].caption, "Caption");
}

TEST_F(Part1_1_Recorder, WithoutAHostAPromptIsAnsweredOkAndNoStopIsRequested) {
    EXPECT_EQ(kivu5::DiagModule::createMessageBox(kivu5::MSGBOX_TYPE_OK_CANCEL, "a", "b",
                                                  kivu5::MSGBOX_OPTION_DEFAULT_OK,
                                                  kivu5::LOOKANDFEEL_QUESTION, nullptr, nullptr, nullptr,
                                                  kivu5::FROM_SETTINGS_FILE(), 2000, true),
              kivu5::MSGBOX_RETURN_OK);
    EXPECT_FALSE(kivu5::DiagModule::checkForStop());
}

TEST_F(Part1_1_Recorder, CheckForStopIsCountedAndAnsweredByTheHost) {
    kivu5::HostHooks hooks;
    hooks.stopRequested = [] { return kivu5::Framework::stopChecks() > 2; };
    kivu5::Framework::setHooks(hooks);
    EXPECT_FALSE(kivu5::DiagModule::checkForStop());
    EXPECT_FALSE(kivu5::DiagModule::checkForStop());
    EXPECT_TRUE(kivu5::DiagModule::checkForStop());
    EXPECT_EQ(kivu5::Framework::stopChecks(), 3u);
    kivu5::Framework::beginRun();
    EXPECT_EQ(kivu5::Framework::stopChecks(), 0u);
}

TEST_F(Part1_1_Recorder, LogLinesOfTheLoggerJoinTheTimelineWithTheirPriority) {
    qen::Logger logger("tarnserialport");
    logger.log(2, qen::LoggerStream() + 12 + " Port COM1: Not testable");
    ASSERT_EQ(kivu5::Framework::timeline().size(), 1u);
    EXPECT_EQ(tarntest::Describe(kivu5::Framework::timeline()[0]), "log 2 Port COM1: Not testable");
}

kivu5::TestResult Throwing(const kivu5::DiagDevice&) {
    throw qen::Exception(qen::String("TARN Driver not installed!"));
}

TEST(Part1_1_RunTestOnDevice, AQenExceptionLeavingTheEntryFunctionIsExitedAbnormallyWithItsMessage) {
    kivu5::Test test("Throwing", kivu5::DeviceCapability::SerialPort(), Throwing);
    kivu5::RunOutcome outcome = kivu5::RunTestOnDevice(test, kivu5::DiagDevice("COM1"));
    EXPECT_EQ(outcome.result, kivu5::TestResult::EXITEDABNORMALLY());
    EXPECT_TRUE(outcome.exception);
    EXPECT_EQ(outcome.exceptionMessage, "TARN Driver not installed!");
}

TEST(Part1_1_Test, RequirementsAndParametersChainOnTheSameTest) {
    kivu5::Test test("T", kivu5::DeviceCapability::SerialPort(), Throwing);
    kivu5::Parameter p("BaudRates", kivu5::DataType::UINT32ARRAY(), "", false, true);
    EXPECT_EQ(test.addDevicePropertyRequirement("ComPortNumber", "")->addParameter(&p), &test);
    ASSERT_EQ(test.requirements().size(), 1u);
    EXPECT_EQ(test.requirements()[0].first, "ComPortNumber");
    EXPECT_EQ(test.requirements()[0].second, "");
    EXPECT_EQ(test.parameters().at(0), &p);
    EXPECT_EQ(test.capability().name(), "SerialPort");
}

} // namespace
