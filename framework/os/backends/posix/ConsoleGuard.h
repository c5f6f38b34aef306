// Keeps COM ports off the kernel's console: on this kind of machine /dev/ttyS0 is the console, and a
// loopback test switching it to raw mode and writing ramps to it would wreck it.
#pragma once

#include <string>

namespace tarnos {
namespace posix {

// True when path is (a link to) a terminal the kernel writes its console to (/sys/class/tty/console/
// active), /dev/console or /dev/tty. Found with stat() alone: nothing is opened.
bool IsKernelConsole(const std::string& path);

} // namespace posix
} // namespace tarnos
