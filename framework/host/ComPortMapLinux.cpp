// The console host's side of the Linux backend's COM port map (os/linux/LinuxBackend.h).
#include "host/DevicesLinux.h"

#include "os/linux/LinuxBackend.h"

namespace tarnhost {

void MapComPorts(const std::vector<HostDevice>& devices) {
    // Only what --list-devices shows can be opened.
    tarnos::ClearComPortMap();
    for (const HostDevice& host : devices) {
        tarnos::MapComPort(host.device.property("ComPortNumber")->value().valueUint32(), host.osDevice);
    }
}

bool IsConsoleDevice(const std::string& devicePath) {
    return tarnos::IsKernelConsole(devicePath);
}

} // namespace tarnhost
