// The framework's English localization: one text for each of the module's 25 events, 5 localized strings
// and 5 tests (the module gives only their names), and the texts a console host builds around them: the
// variants of an event whose cause depends on its values, the skipped rates, and why a test could not run.
// Event texts speak a technician's language: the signal, its DB-9 pin, the loopback plug's bridge.
// {Name} is replaced by the variable's value; [text] appears only when every variable inside it is set.
#include "kivu5/Framework.h"

#include <map>

namespace kivu5 {
namespace {

const std::map<std::string, std::string>& Texts() {
    static const std::map<std::string, std::string> texts = {
        // Events.
        {"NotTestable", "{PortNumber} cannot be tested by this test[: {Reason}]"},
        {"FailedGetBaudRate", "{PortNumber}: the COM driver cannot tell the port's current baud rate, so the "
                              "test did nothing: check that the driver works and the device is still there"},
        {"FailedSendRecieveTest",
         "{PortNumber} failed the internal send and receive test: the UART's "
         "transmitter, receiver or baud-rate generator (the lines before say where)"},
        {"EnumerationError", "the device does not say which serial port or I/O base address it is: check the "
                             "port's resources in the operating system and the firmware setup"},
        {"TransmitTimeout", "{PortNumber}: at {BaudRate} bit/s the UART did not send (THRE) or receive (data "
                            "ready) within 3 s in internal loopback: its clock, transmitter or receiver does "
                            "not run"},
        {"MiscompareError", "{PortNumber}: internal loopback, {Outputs}: saw {Seen}, expected {Expected}"},
        {"BaudMiscompareError",
         "{PortNumber}: at {BaudRate} bit/s in internal loopback the byte {Sent} came "
         "back as {Got} (bits {Wrong} wrong): a data bit stuck or shorted in the UART"},
        {"FramingError",
         "{PortNumber}: framing error[ at {BaudRate} bit/s] in internal loopback: the stop bit "
         "was not where the receiver expected it (transmitter and receiver disagree on "
         "timing), or no UART answers there"},
        {"ParityError", "{PortNumber}: parity error[ at {BaudRate} bit/s] in internal loopback, though no "
                        "parity is sent: LCR does not hold what was written"},
        {"OverrunError",
         "{PortNumber}: overrun[ at {BaudRate} bit/s] in internal loopback, though one byte is "
         "sent at a time: the receiver reports data that was not sent"},
        {"AccessDeniedFailure", "{PortNumber} is in use by another program (access denied): close it, or run "
                                "as administrator or root"},
        {"UnableToOpenPort", "{PortNumber} cannot be opened: {ErrorDescription}"},
        {"FailedSetup",
         "{PortNumber}: the COM driver refused to set the port up[ at {BaudRate} bit/s] (8 data "
         "bits, no parity, 1 stop bit)"},
        {"DTR_StuckHigh",
         "{PortNumber}: DSR (pin 6) is on while DTR (pin 4) is off: DSR held on from outside, "
         "or DTR stuck high"},
        {"DTR_StuckLow", "{PortNumber}: DSR (pin 6) is off while DTR (pin 4) is on: no loopback plug, or its "
                         "DTR pin 4 to DSR pin 6 bridge missing, or DTR stuck low"},
        {"CTS_StuckHigh",
         "{PortNumber}: CTS (pin 8) is on while RTS (pin 7) is off: CTS held on from outside, "
         "or RTS stuck high"},
        {"CTS_STuckLow", "{PortNumber}: CTS (pin 8) is off while RTS (pin 7) is on: no loopback plug, or its "
                         "RTS pin 7 to CTS pin 8 bridge missing, or RTS stuck low"},
        {"NoValidBaudRateConfig",
         "no baud rate of the list can be set on this port, so nothing was tested: check BaudRates"},
        {"InvalidBaudRateConfig",
         "the baud rate at index {BaudRateIndex} of the list cannot be set on this port"},
        {"WriteCompletedShort", "{PortNumber}: only {TotalSent} of {TotalExpected} bytes were written[ at "
                                "{BaudRate} bit/s]: the transmitter is held up (flow control, a stalled "
                                "adapter) or the device was removed"},
        {"IncorrectCharCount", "{PortNumber}: {DataRead} bytes came back, {DataWritten} were sent[ at "
                               "{BaudRate} bit/s]"},
        {"ReadDataIncorrect", "{PortNumber}: a byte came back wrong[ at {BaudRate} bit/s] (more than one off "
                              "its place in the ramp): bits garbled between TX pin 3 and RX pin 2 (noise, a "
                              "bad bridge)"},
        {"FailedControlSignalsTest", "{PortNumber} failed the internal control signals test: DTR, RTS, OUT1, "
                                     "OUT2 do not reach DSR, CTS, RI, DCD inside the UART (the lines before "
                                     "say which)"},
        {"FailedRegTest",
         "{PortNumber}: no UART answers at the I/O base address (all registers read 0xFF): a "
         "wrong base, the UART off in the firmware setup, or a card not seated"},
        {"BadDevicePointer", "the device given to the test is not valid"},
        // Localized strings.
        {"ValidityCheck", "Checking {PortNumber}"},
        {"TestComplete", "Finished {PortNumber}"},
        {"LoopbackProgress", "Loopback at {BaudRate} bit/s"},
        {"PrgsSendReceive", "Send and receive at {BaudRate} bit/s"},
        {"ConnectAdapterPrompt", "Connect the serial loopback adapter (TX-RX, DTR-DSR, RTS-CTS) to the port "
                                 "under test, then choose OK."},
        // IncorrectCharCount by what came back.
        {"IncorrectCharCount.None", "{PortNumber}: 0 of {DataWritten} bytes came back[ at {BaudRate} bit/s]: "
                                    "no loopback plug, or its TX pin 3 to RX pin 2 bridge missing"},
        {"IncorrectCharCount.Fewer",
         "{PortNumber}: {DataRead} of {DataWritten} bytes came back[ at {BaudRate} "
         "bit/s]: bytes lost between TX pin 3 and RX pin 2 (a bad contact, noise, "
         "a rate the port cannot keep up)"},
        {"IncorrectCharCount.More", "{PortNumber}: {DataRead} bytes came back for {DataWritten} sent[ at "
                                    "{BaudRate} bit/s]: bytes nobody sent reached RX pin 2 (noise, another "
                                    "device on the line)"},
        // The wrong bytes of one loopback pass, when more than one.
        {"ReadDataIncorrect.Many",
         "{PortNumber}: {Count} bytes came back wrong[ at {BaudRate} bit/s] (more than "
         "one off their places in the ramp): bits garbled between TX pin 3 and RX pin "
         "2 (noise, a bad bridge)"},
        // Rates of the list that the port cannot be asked for, all at once.
        {"SkippedRates", "skipped {Rates} bit/s: not settable on {PortNumber}"},
        // Why a test did not run, or not to its end.
        {"Reason.NoIoBase",
         "no I/O base: a USB adapter or another port without a UART the register tests can "
         "reach"},
        {"Reason.Infrared", "a banked UART switched to an infrared mode: set the port to its plain serial "
                            "(UART) mode in the firmware setup"},
        {"Reason.NotSerial", "the driver says it is no serial port (not RS-232, 422, 423 or 449), or the "
                             "device is gone"},
        {"Reason.AccessDenied", "access denied: another program holds the port, or this program lacks "
                                "administrator or root rights"},
        {"Reason.CannotOpen", "the port cannot be opened[: {ErrorDescription}]"},
        {"Reason.Modem",
         "a modem answered AT (or the port could not hold that exchange at 9600 bit/s): unplug "
         "the modem and fit the loopback plug"},
        {"Reason.NoDriver",
         "the kernel-mode port driver is missing (InpOut on Windows; /dev/port, as root, on "
         "Linux)"},
        {"Reason.Exception", "the test stopped on an exception: {Message}"},
        {"Reason.NoPortNumber", "the device gave no port number"},
        {"Reason.NoValidRate", "no rate of the baud-rate list can be set on this port: check BaudRates"},
        {"Reason.Cancelled", "the loopback-plug prompt was answered Cancel"},
        {"Reason.Stopped", "stopped by the user"},
        {"Reason.NotStarted", "stopped by the user before it began"},
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

// Fills {Name} in pattern[begin, end); allSet turns false when a variable is missing (shown as "?").
std::string Fill(const std::string& pattern, size_t begin, size_t end,
                 const std::vector<VariableRecord>& vars, bool& allSet) {
    std::string out;
    for (size_t i = begin; i < end; ++i) {
        size_t close = pattern[i] == '{' ? pattern.find('}', i) : std::string::npos;
        if (close == std::string::npos || close >= end) {
            out += pattern[i];
            continue;
        }
        const VariableRecord* v = Find(vars, pattern.substr(i + 1, close - i - 1));
        allSet = allSet && v != nullptr;
        out += v ? ValueText(v->value) : "?";
        i = close;
    }
    return out;
}

} // namespace

std::string EnglishText(const std::string& name, const std::vector<VariableRecord>& vars) {
    auto it = Texts().find(name);
    if (it == Texts().end()) {
        return name;
    }
    const std::string& pattern = it->second;
    std::string out;
    for (size_t i = 0; i < pattern.size();) {
        size_t open = pattern.find('[', i);
        size_t close = open == std::string::npos ? std::string::npos : pattern.find(']', open);
        bool allSet = true;
        if (close == std::string::npos) {
            return out + Fill(pattern, i, pattern.size(), vars, allSet);
        }
        out += Fill(pattern, i, open, vars, allSet);
        bool groupSet = true;
        std::string group = Fill(pattern, open + 1, close, vars, groupSet);
        out += groupSet ? group : "";
        i = close + 1;
    }
    return out;
}

std::string EnglishTestName(const std::string& testName) {
    auto it = TestNames().find(testName);
    return it == TestNames().end() ? testName : it->second;
}

} // namespace kivu5
