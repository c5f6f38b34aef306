// The host's side of the posix backend's COM port map (os/backends/posix/ComPortMap.h).
#include "host/DevicesLinux.h"

#include "os/backends/posix/ComPortMap.h"
#include "os/backends/posix/ConsoleGuard.h"

namespace tarnhost {

void MapComPorts(const std::vector<HostDevice>& devices) {
    // Only what --list-devices shows can be opened.
    tarnos::posix::ClearComPortMap();
    for (const HostDevice& host : devices) {
        tarnos::posix::MapComPort(host.device.property("ComPortNumber")->value().valueUint32(),
                                  host.osDevice);
    }
}

bool IsConsoleDevice(const std::string& devicePath) {
    return tarnos::posix::IsKernelConsole(devicePath);
}

} // namespace tarnhost
