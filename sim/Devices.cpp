#include "sim/Devices.h"

namespace tarnsim {

kivu5::DiagDevice MakeDevice(const PortConfig& port) {
    kivu5::DiagDevice device(port.DeviceName());
    if (port.com) {
        device.setProperty("ComPortNumber", kivu5::Value::Uint32(*port.com));
    }
    if (port.io) {
        device.setProperty("IoBaseAddresses", kivu5::Value::Uint32Array(*port.io));
    }
    return device;
}

std::vector<kivu5::DiagDevice> MakeDevices(const Scenario& scenario) {
    std::vector<kivu5::DiagDevice> devices;
    for (const PortConfig& port : scenario.ports) {
        devices.push_back(MakeDevice(port));
    }
    return devices;
}

} // namespace tarnsim
