// The terminal behind a stream (TerminalLinux.cpp or TerminalWindows.cpp, chosen by the build).
#pragma once

#include <cstdio>

namespace tarnhost {

bool IsTerminal(std::FILE* stream);
// The terminal's width in columns; 0 when the stream is no terminal or does not say.
int TerminalColumns(std::FILE* stream);
// Makes the terminal understand ANSI colour sequences where it needs to be told (a Windows console);
// false when it cannot.
bool EnableColour(std::FILE* stream);

} // namespace tarnhost
