// The texts Windows' FormatMessage gives for the error codes the simulation sets (without the "\r\n"
// FormatMessage ends them with), so reports read as they would on a real machine.
#pragma once

#include "os/Win32Types.h"

#include <string>

namespace tarnsim {

std::string WindowsErrorText(DWORD code);

} // namespace tarnsim
