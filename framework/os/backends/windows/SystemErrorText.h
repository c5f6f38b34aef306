// The system's message for a Win32 error code, for IWin32Backend::SystemErrorText on Windows.
#pragma once

#include "os/Win32Types.h"

#include <string>

namespace tarnos {
namespace windows {

// FormatMessageW of the code in the user's language, as UTF-8 (the JSON report needs valid UTF-8 whatever
// the ANSI code page), without the trailing CR/LF. "Unknown error <code>." when the system has no text.
std::string SystemErrorText(DWORD code);

} // namespace windows
} // namespace tarnos
