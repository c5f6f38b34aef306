// The fuzz targets' bodies, shared by the libFuzzer programs (FuzzEntry.cpp, clang) and the replay of the
// seeds and of every input that once found a bug (ReplayMain.cpp, any compiler). Each body takes arbitrary
// bytes and returns "" when every property held, else what broke. Refusing the input with the host's
// bad-input error is a correct answer; any other exception, a crash or a sanitizer report is a bug.
#pragma once

#include "host/HostError.h"
#include "host/ParameterText.h"
#include "host/ScenarioLoader.h"
#include "host/SettingsLoader.h"
#include "os/CommDcbText.h"
#include "sim/Devices.h"
#include "sim/Simulation.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

namespace tarnfuzz {

// A refusal is the host's bad-input error: exit status 2 and one line naming the input.
inline std::string Refusal(const tarnhost::CHostInputError& error, const std::string& input) {
    const std::string line = error.Line();
    bool named = line.rfind("tarnserialport: " + input, 0) == 0 && line.find('\n') == std::string::npos;
    return error.ExitStatus() == tarnhost::EXIT_BAD_INPUT && named
               ? ""
               : "not a one-line bad-input error: " + line;
}

// tarnos::ParseCommDcbText, the frame text of BuildCommDCBW ("baud=9600 parity=N data=8 stop=1",
// "9600,n,8,1"). The first byte chooses how the rest becomes wide text: even, one character per byte; odd,
// one UTF-16 unit per two bytes.
inline std::string CommDcbText(const uint8_t* data, size_t size) {
    std::wstring text;
    const size_t step = size > 0 && (data[0] & 1) != 0 ? 2 : 1;
    for (size_t i = 1; i + step <= size; i += step) {
        text += static_cast<wchar_t>(step == 1 ? data[i] : data[i] | data[i + 1] << 8);
    }
    DCB before;
    std::memset(&before, 0xA5, sizeof before); // every field set, so that any change shows
    before.DCBlength = sizeof(DCB);
    DCB dcb = before;
    if (!tarnos::ParseCommDcbText(text, &dcb)) {
        return std::memcmp(&dcb, &before, sizeof dcb) == 0 ? "" : "a refused text changed the DCB";
    }
    const auto changed = [](unsigned now, unsigned was, unsigned low, unsigned high) {
        return now != was && (now < low || now > high); // a field the text set, to a value no port has
    };
    if (text.size() > 1024 || dcb.fBinary != 1 || dcb.BaudRate == 0 || dcb.DCBlength != before.DCBlength ||
        changed(dcb.ByteSize, before.ByteSize, 5, 8) || changed(dcb.Parity, before.Parity, 0, SPACEPARITY) ||
        changed(dcb.StopBits, before.StopBits, 0, TWOSTOPBITS)) {
        return "an accepted text gave a frame no port has";
    }
    DCB again = dcb; // the result depends on the text alone
    if (!tarnos::ParseCommDcbText(text, &again) || std::memcmp(&again, &dcb, sizeof dcb) != 0) {
        return "the same text twice gave another DCB";
    }
    return tarnos::ParseCommDcbText(text, nullptr) ? "accepted a null DCB" : "";
}

// tarnhost::ParseScenario (--sim FILE): an accepted scenario has distinct device names, one device per port,
// and the simulator can build it.
inline std::string Scenario(const uint8_t* data, size_t size) {
    tarnsim::Scenario scenario;
    try {
        scenario =
            tarnhost::ParseScenario(std::string(reinterpret_cast<const char*>(data), size), "fuzz.json");
    } catch (const tarnhost::CHostInputError& error) {
        return Refusal(error, "fuzz.json");
    }
    std::set<std::string> names;
    for (const tarnsim::PortConfig& port : scenario.ports) {
        if (!names.insert(port.DeviceName()).second) {
            return "two ports named " + port.DeviceName();
        }
    }
    if (tarnsim::MakeDevices(scenario).size() != scenario.ports.size()) {
        return "not one device per port";
    }
    tarnsim::CSimulation simulation(scenario); // built, never installed
    return "";
}

// tarnhost::ParseSettings (--settings FILE) against the module's parameters and tests: nothing unknown,
// and each parameter read with its own type.
inline std::string Settings(const uint8_t* data, size_t size) {
    static const tarnhost::SettingsCatalogue catalogue = {
        {{"PromptUserForLoopBack", kivu5::DataType::Boolean}, {"BaudRates", kivu5::DataType::Uint32Array}},
        {"ExternalRegisterTest", "ExternalLoopbackTest", "InternalRegisterTest", "InternalControlSignalsTest",
         "InternalSendAndReceiveTest"}};
    tarnhost::HostSettings settings;
    try {
        settings = tarnhost::ParseSettings(std::string(reinterpret_cast<const char*>(data), size),
                                           "fuzz.json", catalogue);
    } catch (const tarnhost::CHostInputError& error) {
        return Refusal(error, "fuzz.json");
    }
    for (const auto& parameter : settings.parameters) {
        if (std::find(catalogue.parameters.begin(), catalogue.parameters.end(),
                      std::make_pair(parameter.first, parameter.second.kind())) ==
            catalogue.parameters.end()) {
            return "parameter " + parameter.first + " accepted unknown or with another type";
        }
    }
    for (const auto& answer : settings.answers) {
        if (std::find(catalogue.tests.begin(), catalogue.tests.end(), answer.first) ==
            catalogue.tests.end()) {
            return "an answer for an unknown test accepted: " + answer.first;
        }
    }
    return "";
}

// tarnhost::ParseParameterValue, the value of --set PARAM=VALUE; the first byte chooses the type. An
// accepted value shown as text (as --list-tests shows it) reads back the same.
inline std::string SetValue(const uint8_t* data, size_t size) {
    static const kivu5::DataType::Kind types[] = {kivu5::DataType::Boolean, kivu5::DataType::Uint32Array,
                                                  kivu5::DataType::Uint32, kivu5::DataType::Text};
    if (size == 0) {
        return "";
    }
    const kivu5::DataType::Kind type = types[data[0] % 4];
    kivu5::Value value = kivu5::Value::Bool(false);
    try {
        value = tarnhost::ParseParameterValue(
            type, std::string(reinterpret_cast<const char*>(data + 1), size - 1), "--set Fuzzed");
    } catch (const tarnhost::CHostInputError& error) {
        return Refusal(error, "--set Fuzzed");
    }
    const std::string shown = tarnhost::ParameterValueText(value);
    try {
        kivu5::Value again = tarnhost::ParseParameterValue(type, shown, "--set Fuzzed");
        bool same = value.kind() == type && tarnhost::ParameterValueText(again) == shown &&
                    again.array() == value.array() && again.number() == value.number();
        return same ? "" : "the value shown as \"" + shown + "\" reads back differently";
    } catch (const tarnhost::CHostInputError& error) {
        return "the value shown as \"" + shown + "\" is refused: " + error.Line();
    }
}

// The targets by name, as their seed and regression folders are named.
struct Target {
    const char* name;
    std::string (*body)(const uint8_t*, size_t);
};
const Target TARGETS[] = {
    {"commdcb", CommDcbText}, {"scenario", Scenario}, {"settings", Settings}, {"setvalue", SetValue}};

inline const Target* FindTarget(const std::string& name) {
    for (const Target& target : TARGETS) {
        if (name == target.name) {
            return &target;
        }
    }
    return nullptr;
}

} // namespace tarnfuzz
