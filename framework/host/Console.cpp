#include "host/Console.h"

#include <algorithm>
#include <cctype>

namespace tarnhost {
namespace {

const size_t BAR_WIDTH = 24;
const size_t BAR_TEXT_WIDTH = 40;

std::string Pad(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string PadLeft(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Percent(int percent) {
    return PadLeft(std::to_string(percent), 3) + "%";
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Seconds(uint32_t milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", milliseconds / 1000.0);
    return text;
}

} // namespace

std::string CConsole::SeverityWord(const std::string& severity) {
    if (severity == "error") {
        return "ERROR";
    }
    if (severity == "warning") {
        return "WARNING";
    }
    return "INFO";
}

std::string CConsole::EventText(const kivu5::TimelineEntry& entry) {
    return kivu5::EnglishText(entry.name, entry.vars) + " [" + entry.name + "]";
}

void CConsole::Line(const std::string& text) {
    ClearBar();
    std::fprintf(m_out, "%s\n", text.c_str());
    DrawBar();
    std::fflush(m_out);
}

void CConsole::RunStarting(const std::string& device, const std::string& test) {
    m_device = device;
    m_test = test;
    m_progressText.clear();
    m_percent = 0;
    m_running = true;
    Line(Prefix() + "started (" + kivu5::EnglishTestName(test) + ")");
}

void CConsole::Entry(const kivu5::TimelineEntry& entry) {
    switch (entry.kind) {
    case kivu5::TimelineEntry::EventRaised:
        Line(Prefix() + SeverityWord(entry.severity) + ": " + EventText(entry));
        break;
    case kivu5::TimelineEntry::Progress:
        m_progressText = entry.text;
        DrawBar();
        break;
    case kivu5::TimelineEntry::Percent:
        m_percent = entry.value;
        if (m_liveBar) {
            DrawBar();
        } else {
            // Plain mode: the module always shows a text and then its percentage, so one line per step.
            Line(Prefix() + "[" + Percent(m_percent) + "] " + m_progressText);
        }
        break;
    default:
        break; // log and trace lines go to the log (--log); prompts are shown by Ask or answered silently
    }
}

void CConsole::RunFinished(const RunRecord& run) {
    ClearBar();
    m_running = false;
    std::string text = Prefix() + run.outcome.result.name() + " after " + Seconds(run.DurationMs()) + ", " +
                       std::to_string(run.ErrorCount()) + (run.ErrorCount() == 1 ? " error" : " errors");
    if (run.outcome.exception) {
        text += " (exception: " + run.outcome.exceptionMessage + ")";
    }
    std::fprintf(m_out, "%s\n", text.c_str());
    std::fflush(m_out);
}

PromptAnswer CConsole::Ask(const kivu5::PromptRequest& request, std::FILE* in, std::FILE* question) {
    ClearBar();
    std::fprintf(question, "%s%s\n  %s\n", Prefix().c_str(), request.caption.c_str(), request.text.c_str());
    while (true) {
        std::fprintf(question, "  OK or Cancel? [O/c] ");
        std::fflush(question);
        char buffer[64];
        if (std::fgets(buffer, sizeof buffer, in) == nullptr) {
            std::fprintf(question, "\n");
            return PromptAnswer::Cancel; // end of input or Ctrl-C: do not go on as if the plug were fitted
        }
        std::string answer = Lower(buffer);
        answer.erase(
            std::remove_if(answer.begin(), answer.end(), [](unsigned char c) { return std::isspace(c); }),
            answer.end());
        if (answer.empty() || answer == "o" || answer == "ok") { // option 40: OK is the default
            return PromptAnswer::Ok;
        }
        if (answer == "c" || answer == "cancel") {
            return PromptAnswer::Cancel;
        }
    }
}

void CConsole::Summary(const std::vector<RunRecord>& runs, int exitStatus) {
    ClearBar();
    size_t deviceWidth = 6;
    size_t testWidth = 4;
    for (const RunRecord& run : runs) {
        deviceWidth = std::max(deviceWidth, run.device.size());
        testWidth = std::max(testWidth, run.test.size());
    }
    std::string text = "\n" + Pad("Device", deviceWidth) + "  " + Pad("Test", testWidth) + "  " +
                       Pad("Result", 16) + PadLeft("Time", 10) + PadLeft("Errors", 8) + "\n";
    for (const RunRecord& run : runs) {
        text += Pad(run.device, deviceWidth) + "  " + Pad(run.test, testWidth) + "  " +
                Pad(run.outcome.result.name(), 16) + PadLeft(Seconds(run.DurationMs()), 10) +
                PadLeft(std::to_string(run.ErrorCount()), 8) + "\n";
    }
    static const char* const MEANING[] = {"every run passed or was not supported", "a run failed",
                                          "bad input", "no run failed, but not every run passed",
                                          "no such device or test"};
    text += "Exit status " + std::to_string(exitStatus) +
            (exitStatus >= 0 && exitStatus <= 4 ? std::string(": ") + MEANING[exitStatus] : std::string()) +
            "\n";
    std::fprintf(m_out, "%s", text.c_str());
    std::fflush(m_out);
}

void CConsole::ClearBar() {
    if (m_barLength > 0) {
        std::fprintf(m_out, "\r%s\r", std::string(m_barLength, ' ').c_str());
        m_barLength = 0;
    }
}

void CConsole::DrawBar() {
    if (!m_liveBar || !m_running) {
        return;
    }
    size_t filled = static_cast<size_t>(std::clamp(m_percent, 0, 100)) * BAR_WIDTH / 100;
    std::string text = m_progressText.size() > BAR_TEXT_WIDTH
                           ? m_progressText.substr(0, BAR_TEXT_WIDTH - 3) + "..."
                           : m_progressText;
    // Plain characters and carriage returns only, so Windows consoles need no escape sequences.
    std::string bar = Prefix() + "[" + std::string(filled, '#') + std::string(BAR_WIDTH - filled, '.') +
                      "] " + Percent(m_percent) + " " + text;
    std::string padding = bar.size() < m_barLength ? std::string(m_barLength - bar.size(), ' ') : "";
    std::fprintf(m_out, "\r%s%s", bar.c_str(), padding.c_str());
    m_barLength = bar.size();
    std::fflush(m_out);
}

} // namespace tarnhost
