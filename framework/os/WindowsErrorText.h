// The English texts of Windows' FormatMessage for the error codes the serial calls give, without the
// trailing CR/LF: for the backends that must answer for Windows themselves (the simulator, and Linux when
// an error did not come from errno).
#pragma once

#include "os/Win32Types.h"

#include <string>

namespace tarnos {

std::string WindowsErrorText(DWORD code);

} // namespace tarnos
