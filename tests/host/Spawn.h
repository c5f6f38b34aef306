// Runs the built program (TARN_PROGRAM) as a child process with --sim, for the end-to-end tests:
// standard input is /dev/null (so no terminal and no prompt), standard output and error are captured.
#pragma once

#include "support_posix/ChildProgram.h"

#include <string>
#include <vector>

namespace tarnhosttest {

using ProgramResult = tarntest::ChildOutcome;

// args must contain "--sim": this machine's own serial port is its console and is never touched.
ProgramResult RunProgram(const std::vector<std::string>& args);

// A file in a fresh temporary directory, removed with the process's other temporary files by the OS.
std::string TempPath(const std::string& name);
void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);

// The source tree's examples/NAME.
std::string ExamplePath(const std::string& name);

} // namespace tarnhosttest
