// What people see: each finding as one line, progress as a live line on a terminal (cut to its width) or
// as plain lines, the adapter prompt on a terminal, and the closing summary.
#pragma once

#include "host/Findings.h"
#include "host/PromptAnswer.h"
#include "host/RunRecord.h"
#include "kivu5/Framework.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace tarnhost {

struct ConsoleStyle {
    bool liveBar = false;   // redraw one progress line in place (a terminal only)
    bool colour = false;    // colour the results and severity words (a terminal without NO_COLOR)
    bool quiet = false;     // -q: the summary alone
    bool simulated = false; // device time is the simulator's: say so, with the real time beside it
    int columns = 80;       // the terminal's width, for the live line
};

class CConsole {
public:
    CConsole(std::FILE* out, const ConsoleStyle& style);

    void RunStarting(const std::string& device, const std::string& test, int testId);
    // Live output of one timeline entry of the current run (HostHooks::onEntry).
    void Entry(const kivu5::TimelineEntry& entry);
    void RunFinished(const RunRecord& run);
    // Asks on the terminal: the question goes to question, in reads the answer. End of input or an
    // interrupted read (Ctrl-C) is Cancel.
    PromptAnswer Ask(const kivu5::PromptRequest& request, std::FILE* in, std::FILE* question);
    void Summary(const Session& session, int exitStatus);
    // A line for people; none with -q.
    void Line(const std::string& text);
    // Before the logger writes a line to stream: the live line is cleared first when it shares the
    // screen. False keeps the line off standard error with -q.
    bool BeforeLogLine(std::FILE* stream);

private:
    std::string Prefix() const { return m_device + " " + m_test + ": "; }
    std::string Paint(const std::string& word) const;
    void Print(const std::string& text);
    void ShowFindings(const std::vector<Finding>& findings);
    void ClearBar();
    void DrawBar();

    std::FILE* m_out;
    ConsoleStyle m_style;
    std::string m_device;
    std::string m_test;
    std::unique_ptr<CFindingNarrator> m_narrator;
    std::string m_progressText;
    int m_percent = 0;
    bool m_running = false; // a run is under way, so there is a bar to draw
    size_t m_barLength = 0; // characters of the bar now on screen, 0 when none
};

} // namespace tarnhost
