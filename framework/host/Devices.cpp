#include "host/Devices.h"

#include "host/DriverFifo.h"

#include "sim/Devices.h"

namespace tarnhost {

std::vector<HostDevice> SimulatedDevices(const tarnsim::Scenario& scenario) {
    std::vector<HostDevice> devices;
    for (const tarnsim::PortConfig& port : scenario.ports) {
        const char* model = tarnsim::UartModelNames()[static_cast<size_t>(port.uart.model)];
        HostDevice device{tarnsim::MakeDevice(port), std::string("simulated (UART ") + model + ")"};
        SetWindowsDriverFifo(device); // the simulated COM driver stands for Windows' serial driver
        devices.push_back(device);
    }
    return devices;
}

} // namespace tarnhost
