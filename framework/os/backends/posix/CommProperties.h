// GetCommProperties' record for a tty: what the Linux backend can do with the line.
#pragma once

#include "os/Win32Types.h"

namespace tarnos {
namespace posix {

// Fills the whole record: an RS-232 provider (also for a pseudo-terminal, the tests' stand-in), the
// settable rates of termios, 5 to 8 data bits, all parities and stop bits, and the current queue sizes.
void FillCommProperties(DWORD inQueue, DWORD outQueue, COMMPROP* properties);

} // namespace posix
} // namespace tarnos
