// The JUnit report: well-formed XML, one testsuite per device, one testcase per run, failures and
// errors carrying the error events, and XML escaping of every text.
#include "host/JunitReport.h"

#include "ReportFixtures.h"
#include "XmlCheck.h"

#include <gtest/gtest.h>

namespace tarnhost {
namespace {

using tarnhosttest::XmlElement;

XmlElement Parse(const std::string& xml) {
    XmlElement root;
    std::string error;
    EXPECT_TRUE(tarnhosttest::ParseXml(xml, root, error)) << error << "\n" << xml;
    return root;
}

TEST(JunitReport, TheCheckerRefusesBrokenXml) {
    XmlElement root;
    std::string error;
    EXPECT_FALSE(tarnhosttest::ParseXml("<a><b></a></b>", root, error));
    EXPECT_FALSE(tarnhosttest::ParseXml("<a x=1/>", root, error));
    EXPECT_FALSE(tarnhosttest::ParseXml("<a>1 < 2</a>", root, error));
    EXPECT_FALSE(tarnhosttest::ParseXml("<a>R&D</a>", root, error));
    EXPECT_FALSE(tarnhosttest::ParseXml("<a>\x01</a>", root, error));
    EXPECT_FALSE(tarnhosttest::ParseXml("<a x=\"1\" x=\"2\"/>", root, error));
    EXPECT_TRUE(
        tarnhosttest::ParseXml("<?xml version=\"1.0\"?>\n<a x=\"&lt;&#13;\">t&amp;<b/></a>", root, error));
    EXPECT_EQ(root.attributes["x"], "<\r");
}

TEST(JunitReport, OneSuitePerDeviceOneCasePerRunInOrder) {
    std::vector<RunRecord> runs{tarnhosttest::PassingRun("InternalRegisterTest", "COM1"),
                                tarnhosttest::PassingRun("InternalRegisterTest", "COM2"),
                                tarnhosttest::FailingLoopbackRun()};
    XmlElement root = Parse(BuildJunitReport(runs));
    EXPECT_EQ(root.name, "testsuites");
    EXPECT_EQ(root.attributes["tests"], "3");
    EXPECT_EQ(root.attributes["failures"], "1");
    ASSERT_EQ(root.children.size(), 2u);
    EXPECT_EQ(root.children[0].name, "testsuite");
    EXPECT_EQ(root.children[0].attributes["name"], "COM1");
    EXPECT_EQ(root.children[0].attributes["tests"], "2");
    EXPECT_EQ(root.children[0].attributes["failures"], "1");
    EXPECT_EQ(root.children[1].attributes["name"], "COM2");
    ASSERT_EQ(root.children[0].children.size(), 2u);
    EXPECT_EQ(root.children[0].children[0].attributes["name"], "InternalRegisterTest");
    EXPECT_EQ(root.children[0].children[1].attributes["name"], "ExternalLoopbackTest");
    EXPECT_EQ(root.children[0].children[1].attributes["time"], "1.500");
}

TEST(JunitReport, FailureCarriesTheErrorAndWarningEvents) {
    XmlElement root = Parse(BuildJunitReport({tarnhosttest::FailingLoopbackRun()}));
    const XmlElement& testcase = root.children.at(0).children.at(0);
    ASSERT_EQ(testcase.children.size(), 1u);
    const XmlElement& failure = testcase.children[0];
    EXPECT_EQ(failure.name, "failure");
    EXPECT_EQ(failure.attributes.at("type"), "FAIL");
    EXPECT_NE(failure.text.find("ERROR COM1: 255 bytes came back, 256 were sent [IncorrectCharCount]"),
              std::string::npos)
        << failure.text;
    EXPECT_NE(failure.text.find("WARNING"), std::string::npos);
    EXPECT_NE(failure.text.find("[InvalidBaudRateConfig]"), std::string::npos);
}

TEST(JunitReport, PassingCaseHasNoChild) {
    XmlElement root = Parse(BuildJunitReport({tarnhosttest::PassingRun("InternalRegisterTest", "COM1")}));
    EXPECT_TRUE(root.children.at(0).children.at(0).children.empty());
}

TEST(JunitReport, NotSupportedAndUserAbortedAreSkipped) {
    for (const kivu5::TestResult& result :
         {kivu5::TestResult::NOTSUPPORTED(), kivu5::TestResult::USERABORTED()}) {
        XmlElement root = Parse(BuildJunitReport({tarnhosttest::RunWithResult(result)}));
        const XmlElement& child = root.children.at(0).children.at(0).children.at(0);
        EXPECT_EQ(child.name, "skipped");
        EXPECT_EQ(child.attributes.at("message"), result.name());
        EXPECT_EQ(root.attributes["skipped"], "1");
    }
}

TEST(JunitReport, OtherResultsAreErrorsWithTheException) {
    XmlElement root = Parse(BuildJunitReport({tarnhosttest::ExceptionRun()}));
    const XmlElement& error = root.children.at(0).children.at(0).children.at(0);
    EXPECT_EQ(error.name, "error");
    EXPECT_EQ(error.attributes.at("type"), "EXITEDABNORMALLY");
    EXPECT_EQ(error.attributes.at("message"), "EXITEDABNORMALLY: TARN Driver not installed!");
    EXPECT_EQ(root.attributes["errors"], "1");
    for (const kivu5::TestResult& result :
         {kivu5::TestResult::CANNOTRUN(), kivu5::TestResult::INTERNALERROR(),
          kivu5::TestResult::NODEVICE()}) {
        XmlElement other = Parse(BuildJunitReport({tarnhosttest::RunWithResult(result)}));
        EXPECT_EQ(other.children.at(0).children.at(0).children.at(0).name, "error") << result.name();
    }
}

TEST(JunitReport, MarkupAndControlCharactersAreEscaped) {
    RunRecord run = tarnhosttest::ExceptionRun();
    run.device = "COM<1>&\"'";
    run.outcome.exceptionMessage = "a < b & c \x01 \xff\r\n";
    XmlElement root = Parse(BuildJunitReport({run}));
    EXPECT_EQ(root.children.at(0).attributes["name"], "COM<1>&\"'");
    EXPECT_EQ(root.children.at(0).children.at(0).children.at(0).attributes.at("message"),
              "EXITEDABNORMALLY: a < b & c ? ?\r\n");
}

TEST(JunitReport, XmlEscapeKeepsUtf8) {
    EXPECT_EQ(XmlEscape("Gr\xc3\xbc\xc3\x9f"
                        "e <&>"),
              "Gr\xc3\xbc\xc3\x9f"
              "e &lt;&amp;&gt;");
    EXPECT_EQ(XmlEscape("\xc3"), "?");
}

TEST(JunitReport, NoRunsIsStillWellFormed) {
    XmlElement root = Parse(BuildJunitReport({}));
    EXPECT_EQ(root.attributes["tests"], "0");
}

} // namespace
} // namespace tarnhost
