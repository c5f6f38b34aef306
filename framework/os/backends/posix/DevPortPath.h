// Where the Linux I/O-port backend finds the I/O space: "/dev/port" unless told otherwise. The tests give
// it a 64 KiB temporary file. Free of Win32 names, so the host may include it beside os/Win32.h.
#pragma once

#include <string>

namespace tarnos {
namespace posix {

// Closes the file in use, if any; the next port access opens the new path.
void SetDevPortPath(std::string path);

} // namespace posix
} // namespace tarnos
