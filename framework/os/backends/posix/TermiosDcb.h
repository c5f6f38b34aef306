// DCB <-> termios: the frame, rate and flow-control part of GetCommState and SetCommState.
#pragma once

#include "os/Win32Types.h"

#include <termios.h>

namespace tarnos {
namespace posix {

// Binary mode as Windows' serial driver always is: no line editing, echo, signals or character
// translation; receiver on, modem lines ignored for I/O (CLOCAL|CREAD); no XON/XOFF. Rate and frame stay.
void MakeRawTermios(termios* tio);

// Applies rate, data bits, parity, stop bits and CTS flow of the DCB on top of raw mode. Returns
// ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for a value the line cannot take (tio is then unchanged).
DWORD DcbToTermios(const DCB& dcb, termios* tio);

// Sets the fields termios knows (BaudRate, ByteSize, Parity, fParity, StopBits, fOutxCtsFlow, fOutX, fInX,
// XonChar, XoffChar, fBinary); leaves every other field of the DCB as it is.
void TermiosToDcb(const termios& tio, DCB* dcb);

} // namespace posix
} // namespace tarnos
