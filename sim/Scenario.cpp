// The plug presets of scenario files ("loopback", "modem", "modem-error"), the built-in scenario, and the
// names scenario files give the UART models and the seam calls.
#include "sim/Scenario.h"

namespace tarnsim {

AttachedConfig AttachedConfig::Loopback() {
    AttachedConfig attached;
    attached.txToRx = true;
    attached.dtrToDsr = true;
    attached.rtsToCts = true;
    return attached;
}

AttachedConfig AttachedConfig::Modem() {
    AttachedConfig attached;
    attached.reply = std::string("\r\nOK\r\n");
    return attached;
}

AttachedConfig AttachedConfig::ModemError() {
    AttachedConfig attached;
    attached.reply = std::string("\r\nERROR\r\n");
    return attached;
}

std::string PortConfig::DeviceName() const {
    return com ? "COM" + std::to_string(*com) : name;
}

Scenario Scenario::BuiltIn() {
    PortConfig port;
    port.com = 1;
    port.io = std::vector<uint32_t>{0x3F8};
    port.attached = AttachedConfig::Loopback();
    Scenario scenario;
    scenario.ports.push_back(port);
    return scenario;
}

const std::vector<const char*>& UartModelNames() {
    static const std::vector<const char*> names = {"16550A", "ns-banked", "absent", "scripted"};
    return names;
}

const std::vector<const char*>& SeamCallNames() {
    static const std::vector<const char*> names = {
        "CreateFileW",        "CloseHandle",       "GetCommState",    "SetCommState", "BuildCommDCBW",
        "SetupComm",          "SetCommTimeouts",   "GetCommTimeouts", "ReadFile",     "WriteFile",
        "GetCommModemStatus", "GetCommProperties", "GetLastError",    "Sleep",        "GetTickCount",
        "DriverOpened",       "PortReadByte",      "PortWriteByte"};
    return names;
}

const char* SeamCallName(SeamCall call) {
    return SeamCallNames()[static_cast<size_t>(call)];
}

} // namespace tarnsim
