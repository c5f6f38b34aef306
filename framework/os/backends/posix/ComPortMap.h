// Which Linux device answers \\.\COM<n> (Part 4.2's device name). The console host maps /dev/ttyUSB*,
// /dev/ttyACM* here; the tests map pseudo-terminals and switch the default mapping off, so that nothing
// ever falls back to this machine's /dev/ttyS*.
#pragma once

#include <string>

namespace tarnos {
namespace posix {

// COM<number> opens path from now on (replacing an earlier mapping of the number).
void MapComPort(unsigned number, std::string path);
void UnmapComPort(unsigned number);
void ClearComPortMap();

// On (the start-up state): an unmapped COM<n> opens /dev/ttyS<n-1>. Off: an unmapped COM<n> fails with
// ERROR_FILE_NOT_FOUND and no device is touched.
void SetDefaultComMapping(bool enabled);
bool DefaultComMapping();

// The device path of COM<number> by the rules above; false when there is none.
bool ComPortPath(unsigned number, std::string* path);

// Reads exactly "\\.\COM<n>" (n decimal, no sign, no leading zero, 1 or more); false for any other name.
bool ParseComDeviceName(const wchar_t* name, unsigned* number);

} // namespace posix
} // namespace tarnos
