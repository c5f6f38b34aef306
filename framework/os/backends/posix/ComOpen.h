// Opening and closing a COM port on Linux: \\.\COM<n> -> its device (ComPortMap.h), exclusively.
#pragma once

#include "os/Win32Types.h"

namespace tarnos {
namespace posix {

// Opens the tty of the COM name for the access asked (GENERIC_READ / GENERIC_WRITE), in binary (raw)
// mode, held exclusively against every other opener. INVALID_HANDLE_VALUE and the last error on failure:
// 2 for a name that is no COM port, an unmapped number or a missing device; 5 for a port held elsewhere
// or for the kernel's console (ConsoleGuard.h);
// 50 for a device that is no terminal; 87 for a disposition other than OPEN_EXISTING.
HANDLE OpenComPort(LPCWSTR name, DWORD access, DWORD disposition);

// Releases the lock and closes the descriptor. FALSE with 6 for a handle that is not open here.
BOOL CloseComPort(HANDLE handle);

} // namespace posix
} // namespace tarnos
