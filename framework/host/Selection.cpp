#include "host/Selection.h"

#include "host/HostError.h"

#include "host/TestTable.h"

#include <algorithm>
#include <cctype>

namespace tarnhost {
namespace {

using kivu5::Framework;

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](unsigned char x, unsigned char y) { return std::toupper(x) == std::toupper(y); });
}

// The OS device a name in --device may give: the node before any description ("/dev/ttyS1",
// "\\.\COM3"); none for a simulated port.
std::string OsNode(const HostDevice& host) {
    const std::string& os = host.osDevice;
    return os.empty() || (os[0] != '/' && os[0] != '\\') ? "" : os.substr(0, os.find(" ("));
}

// The test of this name or ID.
const kivu5::Test* FindTest(const std::string& nameOrId) {
    for (const kivu5::Test* test : Framework::tests()) {
        if (test->name() == nameOrId || std::to_string(TestId(test->name())) == nameOrId) {
            return test;
        }
    }
    return nullptr;
}

// The device of this name: exactly, else in any case, else its OS node.
const HostDevice* FindDevice(const std::vector<HostDevice>& found, const std::string& name) {
    auto exact = std::find_if(found.begin(), found.end(),
                              [&name](const HostDevice& each) { return each.device.name() == name; });
    auto loose = std::find_if(found.begin(), found.end(), [&name](const HostDevice& each) {
        return SameIgnoringCase(each.device.name(), name) || OsNode(each) == name;
    });
    return exact != found.end() ? &*exact : loose != found.end() ? &*loose : nullptr;
}

} // namespace

std::vector<const kivu5::Test*> SelectTests(const std::vector<std::string>& names) {
    const std::vector<kivu5::Test*>& registered = Framework::tests();
    if (names.empty()) {
        return std::vector<const kivu5::Test*>(registered.begin(), registered.end());
    }
    std::vector<const kivu5::Test*> tests;
    for (const std::string& name : names) {
        const kivu5::Test* test = FindTest(name);
        if (test == nullptr) {
            std::vector<std::string> known;
            for (const kivu5::Test* each : registered) {
                known.push_back(each->name());
            }
            throw CHostInputError("--test " + name, "no such test (tests: " + Joined(known) + ")",
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
        const HostDevice* device = FindDevice(found, name);
        if (device == nullptr) {
            std::vector<std::string> known;
            for (const HostDevice& each : found) {
                known.push_back(each.device.name());
            }
            throw CHostInputError("--device " + name, "no such device (found: " + Joined(known) + ")",
                                  EXIT_NOT_FOUND);
        }
        selected.push_back(*device);
    }
    return selected;
}

} // namespace tarnhost
