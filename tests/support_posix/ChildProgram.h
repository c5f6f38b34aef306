// Runs the built program (TARN_PROGRAM) as a user would, as a child process: standard input is /dev/null
// (no terminal, no prompt), standard output and error go to the files given. POSIX only, like the test
// folders that start the program (tests/host, tests/bad_input; tests/wine/WindowsTests.cmake leaves them
// out).
#pragma once

#include <string>
#include <vector>

namespace tarntest {

struct ChildOutcome {
    int exitStatus = -1; // the exit code, or 128 + the signal that ended the process
    std::string out;
    std::string err;
};

// args must contain "--sim": this machine's own serial port is its console and is never touched. The child
// runs in dir ("" : this process's directory); its output is read back from outPath and errPath.
ChildOutcome RunChildProgram(const std::vector<std::string>& args, const std::string& dir,
                             const std::string& outPath, const std::string& errPath);

// The whole file, "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);

} // namespace tarntest
