// The user's stop: the first Ctrl-C makes StopRequested() true from then on, so the running test ends at
// its next checkForStop(); a second ends the process at once.
// StopLinux.cpp (SIGINT) or StopWindows.cpp (console control handler), chosen by the build.
#pragma once

namespace tarnhost {

void InstallStopHandler();
bool StopRequested();

} // namespace tarnhost
