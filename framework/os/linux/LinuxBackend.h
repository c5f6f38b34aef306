// What a host tells the Linux backend: which device answers \\.\COM<n>, and where the I/O space is. Free
// of Win32 names, so the console host may include it anywhere.
#pragma once

#include <string>

namespace tarnos {

// Nothing is mapped until the host maps it: the console host maps the ports it enumerated, a test maps
// pseudo-terminals. An unmapped number never falls back to a /dev/ttyS* (one of which is often the
// kernel's console): its open fails with ERROR_FILE_NOT_FOUND and touches no device.
// COM<number> opens path from now on, replacing an earlier mapping of the number.
void MapComPort(unsigned number, std::string path);
void ClearComPortMap();

// True when path is (a link to) a terminal the kernel writes its console to (/sys/class/tty/console/
// active), /dev/console or /dev/tty. Found with stat() alone: nothing is opened. Such a device is never
// opened as a COM port, mapped or not.
bool IsKernelConsole(const std::string& path);

// The file of the I/O space: "/dev/port" unless a test gives a file of its own. Closes the file in use,
// if any; the next port access opens the new path. Only with "/dev/port" itself is ioperm ever asked.
void SetDevPortPath(std::string path);
// The ioperm call of the port-I/O backend, for a test that must make sure the system's is never reached:
// it installs one that refuses. Null restores the system's.
using IopermCall = int (*)(unsigned long from, unsigned long count, int turnOn);
void SetIopermCall(IopermCall call);

} // namespace tarnos
