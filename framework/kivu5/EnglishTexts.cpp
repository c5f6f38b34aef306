// The framework's English localization: one text for each of the module's 25 events, 5 localized strings
// and 5 tests; the module gives only their names. {Name} is replaced by the variable's value.
#include "kivu5/Framework.h"

#include <map>

namespace kivu5 {
namespace {

const std::map<std::string, std::string>& Texts() {
    static const std::map<std::string, std::string> texts = {
        // Events.
        {"NotTestable", "{PortNumber} cannot be tested by this test"},
        {"FailedGetBaudRate", "{PortNumber}: the port's current baud rate cannot be read"},
        {"FailedSendRecieveTest", "{PortNumber} failed the internal send and receive test"},
        {"EnumerationError", "the device does not say which serial port or I/O base address it is"},
        {"TransmitTimeout", "{PortNumber}: the UART did not send or receive in time at {BaudRate} bit/s"},
        {"MiscompareError", "{PortNumber}: modem status read {ValueRead}, expected {ExpectedValue}"},
        {"BaudMiscompareError",
         "{PortNumber}: at {BaudRate} bit/s the byte {ExpectedValue} came back as {ValueRead}"},
        {"FramingError", "{PortNumber}: framing error on a received byte"},
        {"ParityError", "{PortNumber}: parity error on a received byte"},
        {"OverrunError", "{PortNumber}: overrun error on the receiver"},
        {"AccessDeniedFailure", "{PortNumber} is in use by another program (access denied)"},
        {"UnableToOpenPort", "{PortNumber} cannot be opened: {ErrorDescription}"},
        {"FailedSetup", "{PortNumber} cannot be set up{ at BaudRate bit/s}"},
        {"DTR_StuckHigh", "{PortNumber}: DSR is on while DTR is off (DTR stuck high)"},
        {"DTR_StuckLow", "{PortNumber}: DSR is off while DTR is on (DTR stuck low, or no loopback plug)"},
        {"CTS_StuckHigh", "{PortNumber}: CTS is on while RTS is off (CTS stuck high)"},
        {"CTS_STuckLow", "{PortNumber}: CTS is off while RTS is on (CTS stuck low, or no loopback plug)"},
        {"NoValidBaudRateConfig", "no baud rate of the configured list can be set on this port"},
        {"InvalidBaudRateConfig",
         "the baud rate at index {BaudRateIndex} of the list cannot be set on this port"},
        {"WriteCompletedShort", "{PortNumber}: only {TotalSent} of {TotalExpected} bytes were written"},
        {"IncorrectCharCount", "{PortNumber}: {DataRead} bytes came back, {DataWritten} were sent"},
        {"ReadDataIncorrect", "{PortNumber}: a byte came back wrong"},
        {"FailedControlSignalsTest", "{PortNumber} failed the internal control signals test"},
        {"FailedRegTest", "{PortNumber}: no UART answers at the I/O base address (all registers read 0xFF)"},
        {"BadDevicePointer", "the device given to the test is not valid"},
        // Localized strings.
        {"ValidityCheck", "Checking {PortNumber}"},
        {"TestComplete", "Finished {PortNumber}"},
        {"LoopbackProgress", "Loopback at {BaudRate} bit/s"},
        {"PrgsSendReceive", "Send and receive at {BaudRate} bit/s"},
        {"ConnectAdapterPrompt", "Connect the serial loopback adapter (TX-RX, DTR-DSR, RTS-CTS) to the port "
                                 "under test, then choose OK."},
    };
    return texts;
}

const std::map<std::string, std::string>& TestNames() {
    static const std::map<std::string, std::string> names = {
        {"InternalControlSignalsTest", "Serial Port Internal Control Signals Test"},
        {"InternalRegisterTest", "Serial Port Internal Register Test"},
        {"InternalSendAndReceiveTest", "Serial Port Internal Send and Receive Test"},
        {"ExternalLoopbackTest", "Serial Port External Loopback Test"},
        {"ExternalRegisterTest", "Serial Port External Register Test"},
    };
    return names;
}

std::string ValueText(const Value& value) {
    switch (value.kind()) {
    case DataType::Text:
        return value.text();
    case DataType::Boolean:
        return value.valueBool() ? "true" : "false";
    default:
        return std::to_string(value.number());
    }
}

const VariableRecord* Find(const std::vector<VariableRecord>& vars, const std::string& name) {
    for (const VariableRecord& v : vars) {
        if (v.name == name) {
            return &v;
        }
    }
    return nullptr;
}

} // namespace

// Fills {Name} with the variable; "{ text Name text}" (a group starting with a blank) appears only when the
// variable is set, with Name replaced inside it.
std::string EnglishText(const std::string& name, const std::vector<VariableRecord>& vars) {
    auto it = Texts().find(name);
    if (it == Texts().end()) {
        return name;
    }
    const std::string& pattern = it->second;
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '{') {
            out += pattern[i];
            continue;
        }
        size_t close = pattern.find('}', i);
        std::string inner = pattern.substr(i + 1, close - i - 1);
        i = close;
        if (!inner.empty() && inner[0] == ' ') {
            // Optional group: the first variable name found inside decides.
            for (const VariableRecord& v : vars) {
                size_t at = inner.find(v.name);
                if (at != std::string::npos) {
                    out += inner.substr(0, at) + ValueText(v.value) + inner.substr(at + v.name.size());
                    break;
                }
            }
            continue;
        }
        const VariableRecord* v = Find(vars, inner);
        out += v ? ValueText(v->value) : "?";
    }
    return out;
}

std::string EnglishTestName(const std::string& testName) {
    auto it = TestNames().find(testName);
    return it == TestNames().end() ? testName : it->second;
}

} // namespace kivu5
