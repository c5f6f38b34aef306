// Runs the built program (TARN_PROGRAM) as a user would, in a given directory, for the bad-input tests:
// standard input is /dev/null (no terminal, no prompt), standard output and error are captured.
#pragma once

#include "support_posix/ChildProgram.h"

#include <filesystem>
#include <string>
#include <vector>

namespace badinput {

using Outcome = tarntest::ChildOutcome;

// args must contain "--sim": this machine's own serial port is its console and is never touched. The
// captured output goes beside dir, never into it.
Outcome RunIn(const std::filesystem::path& dir, const std::vector<std::string>& args);

std::string ReadText(const std::filesystem::path& path);

// Removes a run's directory, and its parent when that is empty then.
void RemoveRunDir(const std::filesystem::path& dir);

} // namespace badinput
