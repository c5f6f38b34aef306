// The user's stop: the first Ctrl-C makes StopRequested() true from then on, so the running test ends at
// its next checkForStop() (in a soak the host lets it run to its end instead); a second ends the process
// at once.
// StopLinux.cpp (SIGINT) or StopWindows.cpp (console control handler), chosen by the build.
#pragma once

namespace tarnhost {

// afterCurrentTest: a soak, which ends after the current test; the first Ctrl-C says which.
void InstallStopHandler(bool afterCurrentTest);
bool StopRequested();

} // namespace tarnhost
