// The rates termios can set (the Bxxx constants), with their Win32 BAUD_* bits for COMMPROP.
#pragma once

#include "os/Win32Types.h"

#include <termios.h>

namespace tarnos {
namespace posix {

// Only exact rates: a rate with no Bxxx constant is refused (SetCommState then fails with 87).
bool SpeedFromRate(DWORD rate, speed_t* speed);
// The rate in bit/s of a Bxxx constant; 0 for B0 or an unknown value. B134 (134.5 baud) reads as 134.
DWORD RateFromSpeed(speed_t speed);
// The BAUD_* bits of the settable rates, plus BAUD_USER because rates above 115200 are settable too.
DWORD SettableBaudBits();

} // namespace posix
} // namespace tarnos
