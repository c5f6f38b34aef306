#include "host/Selection.h"

#include "host/HostError.h"

#include <algorithm>

namespace tarnhost {

using kivu5::Framework;

std::vector<const kivu5::Test*> SelectTests(const std::vector<std::string>& names) {
    const std::vector<kivu5::Test*>& registered = Framework::tests();
    if (names.empty()) {
        return std::vector<const kivu5::Test*>(registered.begin(), registered.end());
    }
    std::vector<const kivu5::Test*> tests;
    for (const std::string& name : names) {
        const kivu5::Test* test = Framework::findTest(name);
        if (test == nullptr) {
            std::vector<std::string> known;
            for (const kivu5::Test* each : registered) {
                known.push_back(each->name());
            }
            throw CHostInputError("--test " + name, "no such test (tests: " + CommaList(known) + ")",
                                  EXIT_NOT_FOUND);
        }
        tests.push_back(test);
    }
    return tests;
}

std::vector<HostDevice> SelectDevices(const std::vector<HostDevice>& found,
                                      const std::vector<std::string>& names) {
    if (found.empty()) {
        throw CHostInputError("devices", "no serial device found", EXIT_NOT_FOUND);
    }
    if (names.empty()) {
        return found;
    }
    std::vector<HostDevice> selected;
    for (const std::string& name : names) {
        auto device = std::find_if(found.begin(), found.end(),
                                   [&name](const HostDevice& each) { return each.device.name() == name; });
        if (device == found.end()) {
            std::vector<std::string> known;
            for (const HostDevice& each : found) {
                known.push_back(each.device.name());
            }
            throw CHostInputError("--device " + name, "no such device (found: " + CommaList(known) + ")",
                                  EXIT_NOT_FOUND);
        }
        selected.push_back(*device);
    }
    return selected;
}

} // namespace tarnhost
