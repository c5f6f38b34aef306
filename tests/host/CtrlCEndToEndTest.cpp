// formats.md section 1: Ctrl-C during a simulated external loopback test makes checkForStop() true; the
// test ends USERABORTED at its next stop check, the port is put back and closed, and the report is still
// written. The program runs as a child process and gets a real SIGINT once its loopback passes are running.
#include "Spawn.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnhosttest {
namespace {

// A settings file whose list keeps the test busy for far longer than the test waits: 200000 passes at 300
// bit/s (virtual time; a few seconds of wall time), so the SIGINT surely arrives during a pass.
std::string LongRateListSettings() {
    std::string rates;
    for (int i = 0; i < 200000; ++i) {
        rates += i ? ",300" : "300";
    }
    return "{\"parameters\": {\"BaudRates\": [" + rates + "], \"PromptUserForLoopBack\": false}}";
}

TEST(CtrlCEndToEnd, InterruptDuringASimulatedLoopbackPassEndsUserAbortedAndTheReportIsWritten) {
    std::string settings = TempPath("ctrl-c-settings.json");
    std::string report = TempPath("ctrl-c-report.json");
    WriteFile(settings, LongRateListSettings());

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(TARN_PROGRAM, TARN_PROGRAM, "--sim", "--test", "ExternalLoopbackTest", "--settings",
              settings.c_str(), "--report", report.c_str(), "--no-progress", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);

    // Wait for the second pass's progress line: the handler is installed and a pass is under way.
    std::string seen;
    bool interrupted = false;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) {
        if (!interrupted) {
            seen.append(buffer, static_cast<size_t>(n));
            if (seen.find("[  2%] Loopback at 300 bit/s") != std::string::npos) {
                ASSERT_EQ(kill(child, SIGINT), 0);
                interrupted = true;
            }
        }
    }
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(interrupted) << "the loopback passes never showed: " << seen.substr(0, 2000);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal, not by the stop request";
    EXPECT_EQ(WEXITSTATUS(status), 3) << "USERABORTED is status 3";

    nlohmann::json written = nlohmann::json::parse(ReadFile(report));
    ASSERT_EQ(written["runs"].size(), 1u);
    const nlohmann::json& run = written["runs"][0];
    EXPECT_EQ(run["test"], "ExternalLoopbackTest");
    EXPECT_EQ(run["result"], "USERABORTED");
    EXPECT_EQ(written["exitCode"], 3);
    // Part 5.6 step 5 (the pass's rate and 100 percent, whatever the result), then Part 3.1 step 14.
    const nlohmann::json& timeline = run["timeline"];
    ASSERT_GE(timeline.size(), 4u);
    size_t end = timeline.size();
    EXPECT_EQ(timeline[end - 4]["kind"], "progress");
    EXPECT_EQ(timeline[end - 4]["name"], "LoopbackProgress");
    EXPECT_EQ(timeline[end - 3]["kind"], "percent");
    EXPECT_EQ(timeline[end - 3]["value"], 100);
    EXPECT_EQ(timeline[end - 2]["kind"], "progress");
    EXPECT_EQ(timeline[end - 2]["name"], "TestComplete");
    EXPECT_EQ(timeline[end - 1]["kind"], "percent");
    EXPECT_EQ(timeline[end - 1]["value"], 100);
}

} // namespace
} // namespace tarnhosttest
