#include "host/Devices.h"

#include "sim/Devices.h"

#include <cstdio>

namespace tarnhost {
namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

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

std::vector<HostDevice> EnumeratePlatformDevices() {
    return EnumeratePlatformPorts().devices;
}

std::vector<HostDevice> SimulatedDevices(const tarnsim::Scenario& scenario) {
    std::vector<HostDevice> devices;
    for (const tarnsim::PortConfig& port : scenario.ports) {
        devices.push_back(HostDevice{tarnsim::MakeDevice(port),
                                     std::string("simulated (UART ") + ModelText(port.uart.model) + ")"});
    }
    return devices;
}

std::string DeviceListLine(const HostDevice& host) {
    const kivu5::DiagDevice& device = host.device;
    std::string line = device.name();
    const kivu5::DeviceProperty* com = device.property("ComPortNumber");
    line += "  ComPortNumber=" + (com ? std::to_string(com->value().valueUint32()) : std::string("(none)"));
    const kivu5::DeviceProperty* io = device.property("IoBaseAddresses");
    std::string bases;
    if (io) {
        kivu5::Value value = io->value(); // a copy: ranging over a temporary's member would dangle
        for (uint32_t base : value.array()) {
            bases += (bases.empty() ? "" : ",") + Hex(base);
        }
    }
    line += "  IoBaseAddresses=" + (io ? "[" + bases + "]" : std::string("(none)"));
    return line + "  " + host.osDevice;
}

} // namespace tarnhost
