// Part 1.2: the common-services library as the module relies on it.
#include "os/OsBackend.h"
#include "qen/qen.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct CapturedLines {
    std::vector<qen::LogLine> lines;
    CapturedLines() {
        qen::LogSink::setListener([this](const qen::LogLine& line) { lines.push_back(line); });
    }
    ~CapturedLines() { qen::LogSink::setListener(nullptr); }
};

class Part1_2_Logging : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = qen::LoggerPriority::LOGGER_PRIORITY;
        qen::LogSink::setFile(nullptr);
    }
    void TearDown() override { qen::LoggerPriority::LOGGER_PRIORITY = m_saved; }
    int m_saved = 3;
};

TEST(Part1_2_String, BuiltEmptyOrFromTextAndAppended) {
    qen::String name;
    EXPECT_EQ(name.str(), "");
    name.append("COM");
    name.append(qen::String("12"));
    EXPECT_EQ(name.str(), "COM12");
    EXPECT_STREQ(name.getUTF8String().c_str(), "COM12");
    EXPECT_EQ(qen::String(nullptr).str(), "");
}

TEST(Part1_2_QENValue, ToStringWithNilValueGivesTheDecimalTextOfEveryNumber) {
    EXPECT_EQ(qen::QENValue(1).toString(qen::QENValue::nilValue).str(), "1");
    EXPECT_EQ(qen::QENValue(0).toString(qen::QENValue::nilValue).str(), "0");
    EXPECT_EQ(qen::QENValue(65535).toString(qen::QENValue::nilValue).str(), "65535");
    EXPECT_EQ(qen::QENValue(7).toString(7).str(), "") << "a value equal to the nil value has no text";
}

TEST(Part1_2_Exceptions, ExceptionCarriesItsMessage) {
    qen::Exception e(qen::String("TARN Driver not installed!"));
    EXPECT_EQ(e.getMessage().str(), "TARN Driver not installed!");
}

TEST(Part1_2_Exceptions, AssertionFailureIsAnExceptionMadeFromFileLineAndExpression) {
    try {
        throw qen::AssertionFailure("SerialPort", 42, "m_PortHandle != INVALID_HANDLE_VALUE");
    } catch (const qen::Exception& e) {
        const auto* failure = dynamic_cast<const qen::AssertionFailure*>(&e);
        ASSERT_NE(failure, nullptr);
        EXPECT_EQ(failure->getSourceFile(), "SerialPort");
        EXPECT_EQ(failure->getLine(), 42u);
        EXPECT_EQ(failure->getExpression(), "m_PortHandle != INVALID_HANDLE_VALUE");
        EXPECT_NE(e.getMessage().str().find("m_PortHandle != INVALID_HANDLE_VALUE"), std::string::npos);
    }
}

TEST(Part1_2_ErrorStream, ChainedOutputAndTheZeroValuedThirdOperationEndTheLine) {
    std::string written;
    qen::SetErrorStreamWriter([&](const std::string& text) { written += text; });
    static const int32_t END = 0;
    qen::cerr << "exception caught: " << qen::String("boom") << &END;
    qen::SetErrorStreamWriter(nullptr);
    EXPECT_EQ(written, "exception caught: boom\n");
}

TEST(Part1_2_LoggerStream, AppendsCStringIntAndUnsignedInOrder) {
    qen::LoggerStream s = qen::LoggerStream() + 123 + " " + "Port " + qen::CString("COM1") + " " + 7u + -2;
    EXPECT_EQ(s.str(), "123 Port COM1 7-2");
}

TEST_F(Part1_2_Logging, CreateLoggerGivesTheNamedLoggerWithItsOwnLevel) {
    qen::Logger* logger = nullptr;
    qen::LogFactory::createLogger("tarnserialport", logger);
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->getName(), "tarnserialport");
    EXPECT_EQ(logger->getLevel(), 0);
    qen::Logger* again = nullptr;
    qen::LogFactory::createLogger("tarnserialport", again);
    EXPECT_EQ(again, logger);
}

TEST_F(Part1_2_Logging, GetPriorityReturnsTheGlobalLoggerPriority) {
    qen::LoggerPriority::LOGGER_PRIORITY = 4;
    EXPECT_EQ(qen::LogFactory::getPriority(), 4);
    qen::LoggerPriority::LOGGER_PRIORITY = 1;
    EXPECT_EQ(qen::LogFactory::getPriority(), 1);
}

// Rule 2, in full: a message of priority P is logged when getPriority() <= P and the logger's level < P.
TEST_F(Part1_2_Logging, Rule2MessageGatingForEveryPriorityGlobalPriorityAndLoggerLevel) {
    qen::Logger logger("gate");
    for (int global = 0; global <= 5; ++global) {
        for (int level = 0; level <= 5; ++level) {
            for (int p = 1; p <= 4; ++p) {
                qen::LoggerPriority::LOGGER_PRIORITY = global;
                logger.setLevel(level);
                bool expected = global <= p && level < p;
                EXPECT_EQ(qen::LogGate::MessageEnabled(&logger, p), expected)
                    << "global " << global << " level " << level << " priority " << p;
            }
        }
    }
    EXPECT_FALSE(qen::LogGate::MessageEnabled(nullptr, 4));
}

// Rule 1: a trace scope gets the logger only when getPriority() <= 1 and the logger's level < 1.
TEST_F(Part1_2_Logging, Rule1TraceGating) {
    qen::Logger logger("gate");
    for (int global = 0; global <= 4; ++global) {
        for (int level = 0; level <= 2; ++level) {
            qen::LoggerPriority::LOGGER_PRIORITY = global;
            logger.setLevel(level);
            EXPECT_EQ(qen::LogGate::ForTrace(&logger), (global <= 1 && level < 1) ? &logger : nullptr)
                << "global " << global << " level " << level;
        }
    }
}

TEST_F(Part1_2_Logging, TraceLoggerTracesEntryAndExitAndNothingForANullLogger) {
    CapturedLines captured;
    qen::Logger logger("tarnserialport");
    {
        qen::TraceLogger scope(&logger, "RunTest", "SerialPortTest", 10);
        ASSERT_EQ(captured.lines.size(), 1u);
    }
    ASSERT_EQ(captured.lines.size(), 2u);
    EXPECT_TRUE(captured.lines[0].isTrace);
    EXPECT_EQ(captured.lines[0].function, "RunTest");
    EXPECT_EQ(captured.lines[0].text.rfind("-> RunTest", 0), 0u);
    EXPECT_EQ(captured.lines[1].text.rfind("<- RunTest", 0), 0u);
    { qen::TraceLogger nothing(nullptr, "main", "tarnserialport", 1); }
    EXPECT_EQ(captured.lines.size(), 2u);
}

// Rule 3 and the line layout: timestamp, logger, priority, then "<line> <message>".
TEST_F(Part1_2_Logging, Rule3LogLineCarriesTimestampPriorityAndTheTextAsGiven) {
    CapturedLines captured;
    const std::string file = (std::filesystem::temp_directory_path() / "tarn-part1_2-log.txt").string();
    std::remove(file.c_str());
    const char* path = file.c_str();
    ASSERT_TRUE(qen::LogSink::setFile(path));
    qen::Logger logger("tarnserialport");
    logger.log(3, qen::LoggerStream() + 321 + " " + "Port " + qen::CString("COM2") + "can't open port.");
    qen::LogSink::setFile(nullptr);
    ASSERT_EQ(captured.lines.size(), 1u);
    EXPECT_EQ(captured.lines[0].priority, 3);
    EXPECT_EQ(captured.lines[0].text, "321 Port COM2can't open port.");
    FILE* f = std::fopen(path, "r");
    ASSERT_NE(f, nullptr);
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
    std::fclose(f);
    std::remove(path);
    std::string text(line);
    EXPECT_EQ(text.substr(4, 1), "-") << text; // 2026-12-06T...
    EXPECT_NE(text.find(" tarnserialport P3 321 Port COM2can't open port.\n"), std::string::npos) << text;
}

class FixedErrorBackend : public tarnos::IWin32Backend {
public:
    HANDLE CreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) override {
        return INVALID_HANDLE_VALUE;
    }
    BOOL CloseHandle(HANDLE) override { return FALSE; }
    BOOL GetCommState(HANDLE, DCB*) override { return FALSE; }
    BOOL SetCommState(HANDLE, DCB*) override { return FALSE; }
    BOOL BuildCommDCBW(LPCWSTR, DCB*) override { return FALSE; }
    BOOL SetupComm(HANDLE, DWORD, DWORD) override { return FALSE; }
    BOOL SetCommTimeouts(HANDLE, COMMTIMEOUTS*) override { return FALSE; }
    BOOL ReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) override { return FALSE; }
    BOOL WriteFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) override { return FALSE; }
    BOOL GetCommModemStatus(HANDLE, LPDWORD) override { return FALSE; }
    BOOL GetCommProperties(HANDLE, LPCOMMPROP) override { return FALSE; }
    DWORD GetLastError() override { return 5; }
    void Sleep(DWORD) override {}
    DWORD GetTickCount() override { return 0; }
    std::string SystemErrorText(DWORD code) override { return "text of " + std::to_string(code); }
};

TEST(Part1_2_System, GetSystemErrorMsgIsTheTextOfTheLastErrorOfThePlatform) {
    FixedErrorBackend backend;
    tarnos::SetBackends(&backend, nullptr);
    EXPECT_EQ(qen::System::getSystemErrorMsg().str(), "text of 5");
    tarnos::SetBackends(nullptr, nullptr);
}

} // namespace
