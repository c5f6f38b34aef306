#include "host/Devices.h"

#include "sim/Devices.h"

namespace tarnhost {

std::vector<HostDevice> SimulatedDevices(const tarnsim::Scenario& scenario) {
    std::vector<HostDevice> devices;
    for (const tarnsim::PortConfig& port : scenario.ports) {
        const char* model = tarnsim::UartModelNames()[static_cast<size_t>(port.uart.model)];
        devices.push_back(
            HostDevice{tarnsim::MakeDevice(port), std::string("simulated (UART ") + model + ")"});
    }
    return devices;
}

} // namespace tarnhost
