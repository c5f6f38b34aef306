// The fuzz targets' bodies, shared by the libFuzzer programs (tests/fuzz/Fuzz*.cpp, clang only) and the
// GoogleTest that replays the committed corpus and every saved crash input with any compiler
// (tests/faults/Fault_FuzzInputsReplayTest.cpp).
//
// Each body takes arbitrary bytes and returns "" when every property held, else a description of the broken
// property. Refusing the input with the host's own bad-input error (CHostInputError, exit 2) is a correct
// answer; any other exception leaving a body, a crash or a sanitizer report is a bug.
#pragma once

#include "host/HostError.h"
#include "host/ParameterText.h"
#include "host/ScenarioLoader.h"
#include "host/SettingsLoader.h"
#include "os/CommDcbText.h"
#include "sim/Devices.h"
#include "sim/Simulation.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace tarnfuzz {

// ---------------------------------------------------------------------------------------------------------
// tarnos::ParseCommDcbText: the BuildCommDCBW frame text ("baud=9600 parity=N data=8 stop=1", "9600,n,8,1").

// The first byte chooses how the rest becomes wide text: even, one character per byte (Latin-1); odd, one
// UTF-16 unit per two bytes (so any wchar_t below 0x10000 can appear).
inline std::wstring WideText(const uint8_t* data, size_t size) {
    std::wstring text;
    if (size == 0) {
        return text;
    }
    if ((data[0] & 1) == 0) {
        for (size_t i = 1; i < size; ++i) {
            text += static_cast<wchar_t>(data[i]);
        }
    } else {
        for (size_t i = 1; i + 1 < size; i += 2) {
            text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        }
    }
    return text;
}

inline bool SameDcb(const DCB& a, const DCB& b) {
    return std::memcmp(&a, &b, sizeof(DCB)) == 0;
}

inline std::string FuzzCommDcbText(const uint8_t* data, size_t size) {
    const std::wstring text = WideText(data, size);
    DCB before;
    std::memset(&before, 0xA5, sizeof before); // every field set, so an unwanted change shows
    before.DCBlength = sizeof(DCB);
    DCB dcb = before;
    const bool ok = tarnos::ParseCommDcbText(text, &dcb);
    if (!ok) {
        return SameDcb(dcb, before) ? "" : "a refused text changed the DCB";
    }
    if (text.size() > 1024) {
        return "a text longer than 1024 characters was accepted";
    }
    if (dcb.fBinary != 1) {
        return "accepted without fBinary";
    }
    if (dcb.BaudRate == 0) {
        return "accepted with a rate of 0";
    }
    if (dcb.ByteSize != before.ByteSize && (dcb.ByteSize < 5 || dcb.ByteSize > 8)) {
        return "data bits outside 5..8: " + std::to_string(dcb.ByteSize);
    }
    if (dcb.Parity != before.Parity && dcb.Parity > SPACEPARITY) {
        return "parity outside 0..4";
    }
    if (dcb.StopBits != before.StopBits && dcb.StopBits > TWOSTOPBITS) {
        return "stop bits outside 0..2";
    }
    if (dcb.DCBlength != before.DCBlength) {
        return "DCBlength changed";
    }
    // The same text applied again changes nothing more: the parser's result depends on the text only.
    DCB again = dcb;
    if (!tarnos::ParseCommDcbText(text, &again) || !SameDcb(again, dcb)) {
        return "the same text applied twice gave another DCB";
    }
    if (tarnos::ParseCommDcbText(text, nullptr)) {
        return "accepted a null DCB";
    }
    return "";
}

// ---------------------------------------------------------------------------------------------------------
// The console host's loaders: a refusal must be the host's one-line bad-input error naming the input.

inline std::string CheckRefusal(const tarnhost::CHostInputError& error, const std::string& input) {
    if (error.ExitStatus() != tarnhost::EXIT_BAD_INPUT) {
        return "refused with exit status " + std::to_string(error.ExitStatus());
    }
    if (error.Line().rfind("tarnserialport: " + input, 0) != 0) {
        return "the error line does not name the input: " + error.Line();
    }
    if (error.Line().find('\n') != std::string::npos) {
        return "the error is more than one line";
    }
    return "";
}

// tarnhost::ParseScenario (--sim FILE): an accepted scenario is one the simulator can build and the host can
// turn into devices with distinct names.
inline std::string FuzzScenario(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    tarnsim::Scenario scenario;
    try {
        scenario = tarnhost::ParseScenario(text, "fuzz.json");
    } catch (const tarnhost::CHostInputError& error) {
        return CheckRefusal(error, "fuzz.json");
    }
    std::set<std::string> names;
    for (const tarnsim::PortConfig& port : scenario.ports) {
        if (!names.insert(port.DeviceName()).second) {
            return "two ports named " + port.DeviceName();
        }
    }
    std::vector<kivu5::DiagDevice> devices = tarnsim::MakeDevices(scenario);
    if (devices.size() != scenario.ports.size()) {
        return "not one device per port";
    }
    tarnsim::CSimulation simulation(scenario); // built, never installed: no seam call reaches it
    for (size_t i = 0; i < scenario.ports.size(); ++i) {
        for (int offset = 0; offset < 8; ++offset) {
            simulation.UartRegister(i, offset);
        }
        simulation.CurrentBaud(i);
    }
    return "";
}

// tarnhost::ParseSettings (--settings FILE) against the module's catalogue.
inline const tarnhost::SettingsCatalogue& ModuleCatalogue() {
    static const tarnhost::SettingsCatalogue catalogue = {
        {{"PromptUserForLoopBack", kivu5::DataType::Boolean}, {"BaudRates", kivu5::DataType::Uint32Array}},
        {"ExternalRegisterTest", "ExternalLoopbackTest", "InternalRegisterTest", "InternalControlSignalsTest",
         "InternalSendAndReceiveTest"}};
    return catalogue;
}

inline std::string FuzzSettings(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    tarnhost::HostSettings settings;
    try {
        settings = tarnhost::ParseSettings(text, "fuzz.json", ModuleCatalogue());
    } catch (const tarnhost::CHostInputError& error) {
        return CheckRefusal(error, "fuzz.json");
    }
    for (const auto& parameter : settings.parameters) {
        bool known = false;
        for (const auto& entry : ModuleCatalogue().parameters) {
            if (entry.first == parameter.first) {
                known = true;
                if (parameter.second.kind() != entry.second) {
                    return "parameter " + parameter.first + " read with another type";
                }
            }
        }
        if (!known) {
            return "unknown parameter accepted: " + parameter.first;
        }
    }
    for (const auto& answer : settings.answers) {
        bool known = false;
        for (const std::string& test : ModuleCatalogue().tests) {
            known = known || test == answer.first;
        }
        if (!known) {
            return "answer for an unknown test accepted: " + answer.first;
        }
    }
    return "";
}

// tarnhost::ParseParameterValue (--set PARAM=VALUE's value): the first byte chooses the parameter's type.
// An accepted value shown again as text (ParameterValueText, what --list-tests prints) reads back the same.
inline std::string FuzzSetValue(const uint8_t* data, size_t size) {
    if (size == 0) {
        return "";
    }
    static const kivu5::DataType::Kind types[] = {kivu5::DataType::Boolean, kivu5::DataType::Uint32Array,
                                                  kivu5::DataType::Uint32, kivu5::DataType::Text};
    const kivu5::DataType::Kind type = types[data[0] % 4];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string input = "--set Fuzzed";
    kivu5::Value value = kivu5::Value::Bool(false);
    try {
        value = tarnhost::ParseParameterValue(type, text, input);
    } catch (const tarnhost::CHostInputError& error) {
        return CheckRefusal(error, input);
    }
    if (value.kind() != type) {
        return "a value of another type came back";
    }
    const std::string shown = tarnhost::ParameterValueText(value);
    kivu5::Value again = kivu5::Value::Bool(false);
    try {
        again = tarnhost::ParseParameterValue(type, shown, input);
    } catch (const tarnhost::CHostInputError& error) {
        return "the shown value \"" + shown + "\" is refused: " + error.Line();
    }
    if (tarnhost::ParameterValueText(again) != shown || again.array() != value.array() ||
        again.number() != value.number()) {
        return "the shown value \"" + shown + "\" reads back differently";
    }
    return "";
}

// The targets by name, as the corpus and regression folders are named.
struct Target {
    const char* name;
    std::string (*body)(const uint8_t*, size_t);
};
inline const std::vector<Target>& Targets() {
    static const std::vector<Target> targets = {{"commdcb", FuzzCommDcbText},
                                                {"scenario", FuzzScenario},
                                                {"settings", FuzzSettings},
                                                {"setvalue", FuzzSetValue}};
    return targets;
}

} // namespace tarnfuzz
