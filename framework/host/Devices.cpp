#include "host/Devices.h"

#include "sim/Devices.h"

namespace tarnhost {
namespace {

const char* ModelText(tarnsim::UartConfig::Model model) {
    switch (model) {
    case tarnsim::UartConfig::Model::NsBanked:
        return "ns-banked";
    case tarnsim::UartConfig::Model::Absent:
        return "absent";
    default:
        return "16550A";
    }
}

} // namespace

std::vector<HostDevice> SimulatedDevices(const tarnsim::Scenario& scenario) {
    std::vector<HostDevice> devices;
    for (const tarnsim::PortConfig& port : scenario.ports) {
        devices.push_back(HostDevice{tarnsim::MakeDevice(port),
                                     std::string("simulated (UART ") + ModelText(port.uart.model) + ")"});
    }
    return devices;
}

} // namespace tarnhost
