#include "host/Listing.h"

#include "host/HostError.h"
#include "host/TestTable.h"
#include "kivu5/Framework.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <string>

namespace tarnhost {
namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

std::string DeviceLine(const HostDevice& host) {
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

// {"devices": [{"name", "comPortNumber", "ioBaseAddresses", "osDevice"}], "leftOut": [{"osDevice",
// "reason"}]}; a property the device lacks is null.
nlohmann::ordered_json DevicesJson(const PlatformPorts& ports) {
    nlohmann::ordered_json list = {{"devices", nlohmann::ordered_json::array()},
                                   {"leftOut", nlohmann::ordered_json::array()}};
    for (const HostDevice& host : ports.devices) {
        const kivu5::DeviceProperty* com = host.device.property("ComPortNumber");
        const kivu5::DeviceProperty* io = host.device.property("IoBaseAddresses");
        nlohmann::ordered_json device;
        device["name"] = host.device.name();
        device["comPortNumber"] = com ? nlohmann::ordered_json(com->value().valueUint32()) : nullptr;
        device["ioBaseAddresses"] = io ? nlohmann::ordered_json(io->value().array()) : nullptr;
        device["osDevice"] = host.osDevice;
        list["devices"].push_back(device);
    }
    for (const LeftOutPort& port : ports.leftOut) {
        list["leftOut"].push_back({{"osDevice", port.osDevice}, {"reason", port.reason}});
    }
    return list;
}

} // namespace

void ListTests() {
    for (const kivu5::Test* test : kivu5::Framework::tests()) {
        std::vector<std::string> needs;
        for (const auto& requirement : test->requirements()) {
            needs.push_back(requirement.first + (requirement.second.empty() ? "" : "=" + requirement.second));
        }
        std::vector<std::string> parameters;
        for (const kivu5::Parameter* parameter : test->parameters()) {
            parameters.push_back(parameter->name());
        }
        std::string name = test->name();
        std::printf("%-28s ID %d  requires: %s  parameters: %s\n", name.c_str(), TestId(name),
                    needs.empty() ? "none" : Joined(needs).c_str(),
                    parameters.empty() ? "none" : Joined(parameters).c_str());
    }
}

void ListDevices(const PlatformPorts& ports, bool json) {
    if (json) {
        std::printf("%s\n", DevicesJson(ports).dump(2).c_str());
        return;
    }
    for (const HostDevice& device : ports.devices) {
        std::printf("%s\n", DeviceLine(device).c_str());
    }
    std::vector<std::string> reasons; // in the order first given
    for (const LeftOutPort& port : ports.leftOut) {
        if (std::find(reasons.begin(), reasons.end(), port.reason) == reasons.end()) {
            reasons.push_back(port.reason);
        }
    }
    for (const std::string& reason : reasons) {
        std::vector<std::string> nodes;
        for (const LeftOutPort& port : ports.leftOut) {
            if (port.reason == reason) {
                nodes.push_back(port.osDevice);
            }
        }
        std::printf("left out: %s (%s)\n", Joined(nodes).c_str(), reason.c_str());
    }
}

} // namespace tarnhost
