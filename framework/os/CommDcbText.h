// The device-definition text of BuildCommDCB ("baud=9600 parity=N data=8 stop=1", also the old
// "9600,n,8,1" form), parsed as Windows does, for the backends that must answer BuildCommDCBW themselves
// (Linux, the simulator).
#pragma once

#include "os/Win32Types.h"

#include <string>

namespace tarnos {

// Fills dcb from the text and returns true; on any unknown key or bad value returns false and leaves dcb
// unchanged. Only the fields the text names change, as BuildCommDCB does; a rate of 110 with no stop
// given selects two stop bits (the MODE command's rule).
bool ParseCommDcbText(const std::wstring& text, DCB* dcb);

} // namespace tarnos
