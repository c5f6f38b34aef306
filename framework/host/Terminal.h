// Whether a stream is a terminal (TerminalLinux.cpp or TerminalWindows.cpp, chosen by the build).
#pragma once

#include <cstdio>

namespace tarnhost {

bool IsTerminal(std::FILE* stream);

} // namespace tarnhost
