// Bad input to the console host: which input (an option, a file, a key in a file) and what is wrong with
// it. HostStart turns it into one line on standard error and its exit status (formats.md section 1).
#pragma once

#include <stdexcept>
#include <string>

namespace tarnhost {

// Exit statuses of formats.md section 1, in one place.
enum ExitStatus {
    EXIT_ALL_PASSED = 0,   // every run PASS or NOTSUPPORTED
    EXIT_SOME_FAILED = 1,  // a run ended FAIL
    EXIT_BAD_INPUT = 2,    // command line, settings or scenario file; nothing was run
    EXIT_NOT_PASSED = 3,   // no FAIL, but some run ended otherwise (CANNOTRUN, USERABORTED, ...)
    EXIT_NOT_FOUND = 4,    // a selected device or test does not exist
    EXIT_INTERRUPTED = 130 // a second Ctrl-C: the shell's convention for death by SIGINT
};

// A value from the input as an error line shows it: in double quotes, cut to 40 characters ("...") so that
// a huge value still gives a short line.
inline std::string QuotedValue(const std::string& text) {
    return "\"" + (text.size() > 40 ? text.substr(0, 37) + "..." : text) + "\"";
}

class CHostInputError : public std::runtime_error {
public:
    CHostInputError(std::string input, std::string problem, int exitStatus = EXIT_BAD_INPUT)
        : std::runtime_error(input + ": " + problem), m_input(std::move(input)),
          m_problem(std::move(problem)), m_exitStatus(exitStatus) {}
    const std::string& Input() const { return m_input; }
    const std::string& Problem() const { return m_problem; }
    int ExitStatus() const { return m_exitStatus; }
    // The one line for standard error: "tarnserialport: <what input>: <what is wrong>".
    std::string Line() const { return "tarnserialport: " + m_input + ": " + m_problem; }

private:
    std::string m_input;
    std::string m_problem;
    int m_exitStatus;
};

} // namespace tarnhost
