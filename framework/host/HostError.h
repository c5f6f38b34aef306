// Bad input to the console host: which input (an option, a file, a key in a file) and what is wrong with
// it. Run turns it into one line on standard error and its exit status, and runs nothing.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnhost {

// The program's exit statuses, in one place: scripts on factory lines act on them.
enum ExitStatus {
    EXIT_ALL_PASSED = 0,     // every run PASS or NOTSUPPORTED
    EXIT_SOME_FAILED = 1,    // a run ended FAIL
    EXIT_BAD_INPUT = 2,      // command line, settings or scenario file; nothing was run
    EXIT_NOT_PASSED = 3,     // no FAIL, but some run ended otherwise (CANNOTRUN, USERABORTED, ...;
                             // with --strict also NOTSUPPORTED)
    EXIT_NOT_FOUND = 4,      // a selected device or test does not exist
    EXIT_NOT_WRITTEN = 5,    // a report, JUnit or record file could not be written at the end
    EXIT_REPLAY_DIFFERS = 6, // --replay: the run asked a call other than the recording's
    EXIT_INTERRUPTED = 130   // a second Ctrl-C: the shell's convention for death by SIGINT
};

// Input text as an error line may show it: control characters (a newline would break the one-line rule),
// DEL and bytes above 0x7F (maybe no UTF-8 at all) become \xNN, so the line is plain ASCII whatever the
// input held.
inline std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(byte));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

// A value from the input as an error line shows it: in double quotes, cut to 40 characters ("...") so that
// a huge value still gives a short line.
inline std::string QuotedValue(const std::string& text) {
    return "\"" + (text.size() > 40 ? text.substr(0, 37) + "..." : text) + "\"";
}

// Items as a line lists them: "a, b, c", or with another separator.
inline std::string Joined(const std::vector<std::string>& items, const char* separator = ", ") {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : separator) + item;
    }
    return text;
}

class CHostInputError : public std::runtime_error {
public:
    CHostInputError(const std::string& input, const std::string& problem, int exitStatus = EXIT_BAD_INPUT)
        : std::runtime_error(Printable(input) + ": " + Printable(problem)), m_exitStatus(exitStatus) {}
    int ExitStatus() const { return m_exitStatus; }
    // The one line for standard error: "tarnserialport: <what input>: <what is wrong>".
    std::string Line() const { return "tarnserialport: " + std::string(what()); }

private:
    int m_exitStatus;
};

} // namespace tarnhost
