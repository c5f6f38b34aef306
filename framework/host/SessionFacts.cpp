#include "host/SessionFacts.h"

#include "host/HostError.h"
#include "host/HostInfo.h"
#include "host/ParameterText.h"
#include "kivu5/Framework.h"
#include "os/CallLines.h"
#include "os/OsBackend.h"

#include <nlohmann/json.hpp>

namespace tarnhost {
namespace {

using nlohmann::ordered_json;

// The properties the host gives devices: ComPortNumber (a number) and IoBaseAddresses (a list).
ordered_json PropertiesJson(const kivu5::DiagDevice& device) {
    ordered_json properties = ordered_json::object();
    for (const kivu5::DeviceProperty& property : device.properties()) {
        const kivu5::Value value = property.value();
        if (value.kind() == kivu5::DataType::Uint32Array) {
            properties[property.name()] = value.array();
        } else {
            properties[property.name()] = value.valueUint32();
        }
    }
    return properties;
}

HostDevice DeviceFromJson(const ordered_json& item) {
    HostDevice device{kivu5::DiagDevice(item.at("name").get<std::string>()), item.at("osDevice")};
    for (const auto& property : item.at("properties").items()) {
        device.device.setProperty(
            property.key(), property.value().is_array()
                                ? kivu5::Value::Uint32Array(property.value().get<std::vector<uint32_t>>())
                                : kivu5::Value::Uint32(property.value().get<uint32_t>()));
    }
    if (!item.at("fifoControl").is_null()) {
        device.fifoControl = item.at("fifoControl").get<uint8_t>();
    }
    device.fifoSource = item.at("fifoSource");
    return device;
}

} // namespace

SessionFacts FactsOfThisSession(const HostOptions& options, const std::vector<std::string>& args,
                                const std::vector<HostDevice>& devices,
                                const std::vector<const kivu5::Test*>& tests, bool simulated) {
    SessionFacts facts;
    facts.program = kivu5::Framework::version();
    facts.platform = tarnos::PlatformName();
    facts.host = HostName();
    facts.os = OsDescription();
    facts.simulated = simulated;
    facts.args = args;
    facts.devices = devices;
    for (const kivu5::Parameter* parameter : kivu5::Framework::parameters()) {
        facts.parameters.emplace_back(parameter->name(), ParameterValueText(parameter->value()));
    }
    for (const kivu5::Test* test : tests) {
        facts.tests.push_back(test->name());
    }
    facts.logPriority = options.logPriority;
    facts.strict = options.strict;
    facts.tags = options.tags;
    facts.repeat = options.repeat;
    facts.forSeconds = options.forSeconds;
    facts.restore = !options.noRestore;
    return facts;
}

std::string FactsLine(const SessionFacts& facts) {
    ordered_json devices = ordered_json::array();
    for (const HostDevice& device : facts.devices) {
        devices.push_back(
            {{"name", device.device.name()},
             {"osDevice", device.osDevice},
             {"properties", PropertiesJson(device.device)},
             {"fifoControl", device.fifoControl ? ordered_json(*device.fifoControl) : ordered_json()},
             {"fifoSource", device.fifoSource}});
    }
    ordered_json parameters = ordered_json::object();
    for (const auto& parameter : facts.parameters) {
        parameters[parameter.first] = parameter.second;
    }
    ordered_json tags = ordered_json::object();
    for (const auto& tag : facts.tags) {
        tags[tag.first] = tag.second;
    }
    ordered_json line = {{"recording", "tarnserialport"},
                         {"version", tarnos::RECORDING_FORMAT_VERSION},
                         {"program", facts.program},
                         {"platform", facts.platform},
                         {"host", facts.host},
                         {"os", facts.os},
                         {"simulated", facts.simulated},
                         {"args", facts.args},
                         {"devices", devices},
                         {"parameters", parameters},
                         {"tests", facts.tests},
                         {"logPriority", facts.logPriority},
                         {"strict", facts.strict},
                         {"tags", tags},
                         {"repeat", facts.repeat},
                         {"forSeconds", facts.forSeconds},
                         {"restore", facts.restore}};
    return line.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

SessionFacts ParseFactsLine(const std::string& line, const std::string& path) {
    ordered_json header = ordered_json::parse(line, nullptr, false);
    if (!header.is_object() || header.value("recording", "") != "tarnserialport") {
        throw CHostInputError(path, "line 1: not a tarnserialport recording (--replay)");
    }
    if (header.value("version", 0) != tarnos::RECORDING_FORMAT_VERSION) {
        throw CHostInputError(
            path, "a recording of format version " + header.value("version", ordered_json()).dump() +
                      "; --replay reads version " + std::to_string(tarnos::RECORDING_FORMAT_VERSION));
    }
    try {
        SessionFacts facts;
        facts.program = header.at("program");
        facts.platform = header.at("platform");
        facts.host = header.at("host");
        facts.os = header.at("os");
        facts.simulated = header.at("simulated");
        facts.args = header.at("args").get<std::vector<std::string>>();
        for (const ordered_json& device : header.at("devices")) {
            facts.devices.push_back(DeviceFromJson(device));
        }
        for (const auto& parameter : header.at("parameters").items()) {
            facts.parameters.emplace_back(parameter.key(), parameter.value().get<std::string>());
        }
        facts.tests = header.at("tests").get<std::vector<std::string>>();
        facts.logPriority = header.at("logPriority");
        facts.strict = header.at("strict");
        for (const auto& tag : header.at("tags").items()) {
            facts.tags.emplace_back(tag.key(), tag.value().get<std::string>());
        }
        facts.repeat = header.at("repeat");
        facts.forSeconds = header.at("forSeconds");
        facts.restore = header.at("restore");
        return facts;
    } catch (const nlohmann::json::exception& e) {
        throw CHostInputError(path, std::string("line 1: ") + e.what());
    }
}

void TakeRecordedChoices(const SessionFacts& facts, HostOptions& options) {
    options.tests = facts.tests;
    options.devices.clear();
    for (const HostDevice& device : facts.devices) {
        options.devices.push_back(device.device.name());
    }
    options.sets = facts.parameters;
    options.logPriority = facts.logPriority;
    options.strict = facts.strict;
    options.tags = facts.tags;
    options.repeat = facts.repeat;
    options.forSeconds = facts.forSeconds;
    options.noRestore = !facts.restore;
}

} // namespace tarnhost
