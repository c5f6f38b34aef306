// Which Linux device answers \\.\COM<n>. Nothing is mapped until the host maps it: the console host maps
// the ports it enumerated, the tests map pseudo-terminals, and an unmapped number never falls back to a
// /dev/ttyS* (one of which is often the kernel's console).
#pragma once

#include <string>

namespace tarnos {
namespace posix {

// COM<number> opens path from now on (replacing an earlier mapping of the number).
void MapComPort(unsigned number, std::string path);
void ClearComPortMap();

// The device path mapped to COM<number>; false when there is none.
bool ComPortPath(unsigned number, std::string* path);

// Reads exactly "\\.\COM<n>" (n decimal, no sign, no leading zero, 1 or more); false for any other name.
bool ParseComDeviceName(const wchar_t* name, unsigned* number);

} // namespace posix
} // namespace tarnos
