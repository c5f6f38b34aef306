// The one place where the host tells the posix backend which device node a COM number opens.
#include "host/DevicesLinux.h"

namespace tarnhost {

void MapComPort(unsigned comNumber, const std::string& devicePath) {
    // The posix backend's mapping API (framework/os/backends/posix/) is not there yet; until it is, the
    // backend's default mapping of \\.\COM<n> applies and adapters numbered from COM33 cannot be opened.
    (void)comNumber;
    (void)devicePath;
}

} // namespace tarnhost
