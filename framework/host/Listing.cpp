#include "host/Listing.h"

#include "host/HostError.h"
#include "host/TestTable.h"
#include "kivu5/Framework.h"

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
                    needs.empty() ? "none" : CommaList(needs).c_str(),
                    parameters.empty() ? "none" : CommaList(parameters).c_str());
    }
}

void ListDevices(const std::vector<HostDevice>& devices) {
    for (const HostDevice& device : devices) {
        std::printf("%s\n", DeviceLine(device).c_str());
    }
}

} // namespace tarnhost
