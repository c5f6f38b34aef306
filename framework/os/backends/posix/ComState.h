// GetCommState, SetCommState and GetCommModemStatus of an open tty: the DCB kept on top of termios and the
// modem lines (TIOCMGET, TIOCMBIS, TIOCMBIC).
#pragma once

#include "os/Win32Types.h"
#include "os/backends/posix/ComHandles.h"

namespace tarnos {
namespace posix {

// Fills the whole DCB (DCBlength = sizeof(DCB), as Windows does): rate, frame and flow from termios; the
// DTR and RTS control of the last SetCommState, or from the lines themselves (TIOCMGET) before the first;
// the fields termios cannot hold from the last SetCommState.
BOOL GetComState(CComPort& port, DCB* dcb);

// Applies rate, frame, raw mode and CTS flow through termios, then drives DTR and RTS by fDtrControl and
// fRtsControl. A value the line cannot take fails with ERROR_INVALID_PARAMETER and changes nothing. A
// pseudo-terminal has no modem lines: their ioctls' ENOTTY/EINVAL are ignored and the DCB is still kept.
BOOL SetComState(CComPort& port, const DCB& dcb);

// MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON from TIOCMGET. A line without modem lines (a pty) gives
// FALSE with ERROR_NOT_SUPPORTED and a status of 0, as Wine does.
BOOL GetComModemStatus(CComPort& port, DWORD* status);

} // namespace posix
} // namespace tarnos
