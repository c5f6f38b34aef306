// Console output: one line per event with severity, device, test and English text; plain progress
// lines; the live bar only on request; the prompt's answers; the summary table.
#include "host/Console.h"

#include "ReportFixtures.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace tarnhost {
namespace {

// Collects what a CConsole writes.
class ConsoleCapture {
public:
    ConsoleCapture() : m_file(std::tmpfile()) {}
    ~ConsoleCapture() { std::fclose(m_file); }
    std::FILE* File() { return m_file; }
    std::string Text() {
        std::fflush(m_file);
        std::rewind(m_file);
        std::string text;
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0) {
            text.append(buffer, n);
        }
        return text;
    }

private:
    std::FILE* m_file;
};

std::FILE* Input(const std::string& text) {
    std::FILE* file = std::tmpfile();
    std::fputs(text.c_str(), file);
    std::rewind(file);
    return file;
}

TEST(Console, EventIsOneLineWithSeverityDeviceTestAndText) {
    ConsoleCapture out;
    CConsole console(out.File(), false);
    console.RunStarting("COM1", "ExternalLoopbackTest");
    console.Entry(tarnhosttest::FailingLoopbackRun().outcome.timeline[4]);
    EXPECT_NE(out.Text().find("COM1 ExternalLoopbackTest: ERROR: COM1: 255 bytes came back, 256 were sent "
                              "[IncorrectCharCount]\n"),
              std::string::npos)
        << out.Text();
}

TEST(Console, PlainProgressIsOneLinePerPercentage) {
    ConsoleCapture out;
    CConsole console(out.File(), false);
    console.RunStarting("COM2", "InternalRegisterTest");
    kivu5::TimelineEntry progress(kivu5::TimelineEntry::Progress);
    progress.text = "Checking COM2";
    kivu5::TimelineEntry percent(kivu5::TimelineEntry::Percent);
    percent.value = 0;
    console.Entry(progress);
    console.Entry(percent);
    std::string text = out.Text();
    EXPECT_NE(text.find("COM2 InternalRegisterTest: [  0%] Checking COM2\n"), std::string::npos) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(Console, LiveBarRedrawsInPlace) {
    ConsoleCapture out;
    CConsole console(out.File(), true);
    console.RunStarting("COM2", "InternalRegisterTest");
    kivu5::TimelineEntry percent(kivu5::TimelineEntry::Percent);
    percent.value = 50;
    console.Entry(percent);
    std::string text = out.Text();
    EXPECT_NE(text.find("\rCOM2 InternalRegisterTest: [############............]  50%"), std::string::npos)
        << text;
}

TEST(Console, RunFinishedShowsResultDurationAndErrors) {
    ConsoleCapture out;
    CConsole console(out.File(), false);
    console.RunStarting("COM1", "ExternalLoopbackTest");
    console.RunFinished(tarnhosttest::FailingLoopbackRun());
    EXPECT_NE(out.Text().find("COM1 ExternalLoopbackTest: FAIL after 1.5 s, 2 errors\n"), std::string::npos)
        << out.Text();
}

TEST(Console, SummaryTableHasOneRowPerRun) {
    ConsoleCapture out;
    CConsole console(out.File(), false);
    console.Summary({tarnhosttest::FailingLoopbackRun(), tarnhosttest::ExceptionRun()}, 1);
    std::string text = out.Text();
    EXPECT_NE(text.find("Device  Test                  Result                Time  Errors\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("COM1    ExternalLoopbackTest  FAIL                 1.5 s       2\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("COM2    InternalRegisterTest  EXITEDABNORMALLY     0.0 s       0\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Exit status 1: a run failed\n"), std::string::npos) << text;
}

kivu5::PromptRequest Request() {
    return kivu5::PromptRequest{kivu5::MSGBOX_TYPE_OK_CANCEL, "Connect the adapter", "Loopback", 0};
}

TEST(Console, PromptAnswers) {
    ConsoleCapture out;
    CConsole console(out.File(), false);
    struct Case {
        const char* typed;
        PromptAnswer answer;
    } cases[] = {{"\n", PromptAnswer::Ok},           {"ok\n", PromptAnswer::Ok},
                 {" O \n", PromptAnswer::Ok},        {"c\n", PromptAnswer::Cancel},
                 {"Cancel\n", PromptAnswer::Cancel}, {"maybe\nc\n", PromptAnswer::Cancel},
                 {"", PromptAnswer::Cancel}};
    for (const Case& c : cases) {
        std::FILE* in = Input(c.typed);
        EXPECT_EQ(console.Ask(Request(), in, out.File()), c.answer) << c.typed;
        std::fclose(in);
    }
    EXPECT_NE(out.Text().find("Connect the adapter"), std::string::npos);
}

} // namespace
} // namespace tarnhost
