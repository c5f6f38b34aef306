// The user's stop: the first Ctrl-C makes StopRequested() true from then on, so the running test ends at
// its next checkForStop() (in a soak the host lets it run to its end instead); a second ends the process
// at once.
// StopLinux.cpp (SIGINT) or StopWindows.cpp (console control handler), chosen by the build.
#pragma once

#include <cstdio>

namespace tarnhost {

// afterCurrentTest: a soak, which ends after the current test; the first Ctrl-C says which.
void InstallStopHandler(bool afterCurrentTest);
bool StopRequested();

// One line of the user's answer to a prompt into buffer. False at the end of input, and when Ctrl-C came
// before the prompt waited or comes while it waits: either way the prompt must not be taken as answered.
bool ReadAnswerLine(std::FILE* in, char* buffer, int size);

} // namespace tarnhost
