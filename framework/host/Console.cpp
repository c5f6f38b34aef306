#include "host/Console.h"

#include "host/Clock.h"
#include "host/Stop.h"
#include "host/Summary.h"

#include <algorithm>
#include <cctype>

namespace tarnhost {
namespace {

const size_t BAR_WIDTH = 24;

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

// ANSI colours of the words that carry the verdict: green passes, red failures, yellow for a port or test
// that was not (fully) tested, cyan for information.
const char* ColourOf(const std::string& word) {
    if (word == "PASS") {
        return "32";
    }
    if (word == "FAIL" || word == "ERROR") {
        return "31";
    }
    if (word == "WARNING" || word == "NOT TESTED") {
        return "33";
    }
    return word == "INFO" ? "36" : nullptr;
}

} // namespace

CConsole::CConsole(std::FILE* out, const ConsoleStyle& style) : m_out(out), m_style(style) {}

std::string CConsole::Paint(const std::string& word) const {
    const char* colour = m_style.colour ? ColourOf(word) : nullptr;
    return colour ? "\x1b[" + std::string(colour) + "m" + word + "\x1b[0m" : word;
}

void CConsole::Print(const std::string& text) {
    ClearBar();
    std::fprintf(m_out, "%s\n", text.c_str());
    DrawBar();
    std::fflush(m_out);
}

void CConsole::Line(const std::string& text) {
    if (!m_style.quiet) {
        Print(text);
    }
}

bool CConsole::BeforeLogLine(std::FILE* stream) {
    if (stream != stderr) {
        return true; // --log FILE: nothing on the screen to keep apart
    }
    ClearBar(); // drawn again when the line joins the timeline (Entry)
    return !m_style.quiet;
}

void CConsole::ShowFindings(const std::vector<Finding>& findings) {
    for (const Finding& finding : findings) {
        Line(Prefix() + (finding.severity.empty() ? finding.text
                                                  : Paint(SeverityWord(finding.severity)) + ": " +
                                                        finding.text + " [" + finding.key + "]"));
    }
}

void CConsole::RunStarting(const std::string& device, const std::string& test, int testId) {
    m_device = device;
    m_test = test;
    m_narrator.reset(new CFindingNarrator(testId));
    m_progressText.clear();
    m_percent = 0;
    m_running = true;
    if (!m_style.liveBar) {
        Line(Prefix() + "started (" + kivu5::EnglishTestName(test) + ")");
    }
    DrawBar(); // on a terminal the live line names the run until its result replaces it
}

void CConsole::Entry(const kivu5::TimelineEntry& entry) {
    ShowFindings(m_narrator->Add(entry));
    switch (entry.kind) {
    case kivu5::TimelineEntry::Progress:
        m_progressText = entry.text;
        DrawBar();
        break;
    case kivu5::TimelineEntry::Percent:
        m_percent = entry.value;
        if (m_style.liveBar) {
            DrawBar();
        } else {
            // Plain mode: the module always shows a text and then its percentage, so one line per step.
            Line(Prefix() + "[" + Percent(m_percent) + "] " + m_progressText);
        }
        break;
    case kivu5::TimelineEntry::Log:
    case kivu5::TimelineEntry::Trace:
        DrawBar(); // the logger cleared it before writing its line
        break;
    default:
        break; // prompts are shown by Ask or answered silently
    }
}

void CConsole::RunFinished(const RunRecord& run) {
    ShowFindings(m_narrator->Finish(run));
    m_running = false;
    std::string reason = m_narrator->ToldReason() ? "" : NotTestedReason(run);
    unsigned errors = run.ErrorCount();
    std::string counted =
        errors == 0 ? "" : ", " + std::to_string(errors) + (errors == 1 ? " error" : " errors");
    Line(Prefix() + Paint(run.outcome.result.name()) + " after " +
         DurationText(run.DurationMs(), run.realSeconds, m_style.simulated) + counted +
         (reason.empty() ? "" : ": " + reason));
    // A part that was saved but could not be written back leaves the port changed: say so.
    for (const auto& part : {std::make_pair("registers", &run.restore.registers),
                             std::make_pair("port settings", &run.restore.comPort)}) {
        if (*part.second && (*part.second)->saved && !(*part.second)->restored) {
            Line(Prefix() + part.first + " not put back as found: " + (*part.second)->why);
        }
    }
}

PromptAnswer CConsole::Ask(const kivu5::PromptRequest& request, std::FILE* in, std::FILE* question) {
    ClearBar();
    std::fprintf(question, "%s%s\n  %s\n", Prefix().c_str(), request.caption.c_str(), request.text.c_str());
    while (true) {
        std::fprintf(question, "  OK or Cancel? [O/c] ");
        std::fflush(question);
        char buffer[64];
        if (!ReadAnswerLine(in, buffer, sizeof buffer)) {
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

void CConsole::Summary(const Session& session, int exitStatus) {
    ClearBar();
    std::string text =
        SummaryText(session, exitStatus, [this](const std::string& word) { return Paint(word); });
    std::fputs(text.c_str(), m_out);
    std::fflush(m_out);
}

void CConsole::ClearBar() {
    if (m_barLength > 0) {
        // Blanks rather than an erase sequence: a Windows console without VT processing shows them right.
        std::fprintf(m_out, "\r%s\r", std::string(m_barLength, ' ').c_str());
        std::fflush(m_out); // before anything another stream writes to the same screen
        m_barLength = 0;
    }
}

void CConsole::DrawBar() {
    if (!m_style.liveBar || !m_running || m_style.quiet) {
        return;
    }
    size_t filled = static_cast<size_t>(std::clamp(m_percent, 0, 100)) * BAR_WIDTH / 100;
    std::string bar = Prefix() + "[" + std::string(filled, '#') + std::string(BAR_WIDTH - filled, '.') +
                      "] " + Percent(m_percent) + " " + m_progressText;
    // Cut, never wrapped: a line that reached the last column would wrap, and the carriage return that
    // redraws it would then return to the wrapped part only.
    size_t room = static_cast<size_t>(std::max(m_style.columns - 1, 1));
    bar = bar.substr(0, room);
    std::string padding = bar.size() < m_barLength ? std::string(m_barLength - bar.size(), ' ') : "";
    std::fprintf(m_out, "\r%s%s", bar.c_str(), padding.c_str());
    m_barLength = bar.size();
    std::fflush(m_out);
}

} // namespace tarnhost
