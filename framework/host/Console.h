// What people see: each event as one line (severity, device, test, plain-English text), progress as a
// live bar on a terminal or as plain lines, the adapter prompt on a terminal, and a summary table.
#pragma once

#include "host/PromptAnswer.h"
#include "host/RunRecord.h"
#include "kivu5/Framework.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tarnhost {

class CConsole {
public:
    // out: where human output goes; liveBar: redraw one progress line in place (a terminal only).
    CConsole(std::FILE* out, bool liveBar) : m_out(out), m_liveBar(liveBar) {}

    void RunStarting(const std::string& device, const std::string& test);
    // Live output of one timeline entry of the current run (HostHooks::onEntry).
    void Entry(const kivu5::TimelineEntry& entry);
    void RunFinished(const RunRecord& run);
    // Asks on the terminal: the question goes to question, in reads the answer. End of input or an
    // interrupted read (Ctrl-C) is Cancel.
    PromptAnswer Ask(const kivu5::PromptRequest& request, std::FILE* in, std::FILE* question);
    void Summary(const std::vector<RunRecord>& runs, int exitStatus);
    void Line(const std::string& text);

    // The one-line texts, also used by the reports.
    static std::string EventText(const kivu5::TimelineEntry& entry);
    static std::string SeverityWord(const std::string& severity);

private:
    std::string Prefix() const { return m_device + " " + m_test + ": "; }
    void ClearBar();
    void DrawBar();

    std::FILE* m_out;
    bool m_liveBar;
    std::string m_device;
    std::string m_test;
    std::string m_progressText;
    int m_percent = 0;
    bool m_running = false; // a run is under way, so there is a bar to draw
    size_t m_barLength = 0; // characters of the bar now on screen, 0 when none
};

} // namespace tarnhost
