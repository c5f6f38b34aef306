// The console program, from its arguments to its exit status. The shipped program reaches it through the
// framework's start() (HostStart.cpp); other programs can call it directly.
#pragma once

#include <string>
#include <vector>

namespace tarnhost {

// args: the command line without the program's name. Bad input prints one line on standard error and
// returns its exit status (2, or 4 for a device or test that does not exist) before anything runs.
int Run(const std::vector<std::string>& args);

} // namespace tarnhost
