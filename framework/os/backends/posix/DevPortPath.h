// Where the Linux I/O-port backend finds the I/O space: "/dev/port" unless told otherwise. The tests give
// it a 64 KiB temporary file. Free of Win32 names, so the host may include it beside os/Win32.h.
#pragma once

#include <string>

namespace tarnos {
namespace posix {

// Closes the file in use, if any; the next port access opens the new path.
void SetDevPortPath(std::string path);

// The ioperm call of the real backend (DevPortIo.h: only ever asked with the path "/dev/port"), for the
// tests: they install one that refuses and counts, so that not even a bug reaches the system's. Null
// restores the system's. IopermCalls counts the calls made through whichever is installed.
using IopermCall = int (*)(unsigned long from, unsigned long count, int turnOn);
void SetIopermCall(IopermCall call);
unsigned long IopermCalls();

} // namespace posix
} // namespace tarnos
