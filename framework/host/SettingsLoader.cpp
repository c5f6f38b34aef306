#include "host/SettingsLoader.h"

#include "host/HostError.h"
#include "host/JsonStrict.h"
#include "host/ParameterText.h"
#include "kivu5/Framework.h"

#include <algorithm>

namespace tarnhost {
namespace {

using nlohmann::json;

kivu5::Value ParameterValue(const CJsonChecker& check, kivu5::DataType::Kind type, const json& value,
                            const std::string& path, const std::string& input) {
    // A string is read as on the command line ("9600,0x1C200"), for the hex numbers JSON lacks.
    if (value.is_string()) {
        return ParseParameterValue(type, value.get<std::string>(), input + ": " + path);
    }
    switch (type) {
    case kivu5::DataType::Boolean:
        return kivu5::Value::Bool(check.Bool(value, path));
    case kivu5::DataType::Uint32Array: {
        std::vector<uint32_t> values;
        for (size_t i = 0; i < check.Array(value, path).size(); ++i) {
            std::string itemPath = JsonIndex(path, i);
            // An entry may be a string too, for hex: [9600, "0x1C200"].
            values.push_back(value[i].is_string()
                                 ? ParseUint32(value[i].get<std::string>(), input + ": " + itemPath)
                                 : static_cast<uint32_t>(check.Integer(value[i], itemPath, 0, 0xFFFFFFFFu)));
        }
        return kivu5::Value::Uint32Array(values);
    }
    default:
        check.Fail(path, "parameters of this type cannot be set");
    }
}

PromptAnswer Answer(const CJsonChecker& check, const json& value, const std::string& path) {
    return check.Choice(value, path, {"ok", "cancel"}) == "cancel" ? PromptAnswer::Cancel : PromptAnswer::Ok;
}

} // namespace

SettingsCatalogue ModuleCatalogue() {
    SettingsCatalogue catalogue;
    for (const kivu5::Parameter* parameter : kivu5::Framework::parameters()) {
        catalogue.parameters.emplace_back(parameter->name(), parameter->type().kind());
    }
    for (const kivu5::Test* test : kivu5::Framework::tests()) {
        catalogue.tests.push_back(test->name());
    }
    return catalogue;
}

std::optional<PromptAnswer> HostSettings::AnswerFor(const std::string& testName) const {
    auto it = answers.find(testName);
    return it != answers.end() ? std::optional<PromptAnswer>(it->second) : defaultAnswer;
}

HostSettings ParseSettings(const std::string& jsonText, const std::string& input,
                           const SettingsCatalogue& catalogue) {
    json root = ParseStrictJson(jsonText, input);
    CJsonChecker check(input);
    check.Object(root, "");
    check.OnlyKeys(root, "", {"description", "parameters", "answers"});
    HostSettings settings;
    if (root.contains("description")) {
        check.String(root["description"], "description");
    }
    if (root.contains("parameters")) {
        const json& parameters = check.Object(root["parameters"], "parameters");
        for (auto it = parameters.begin(); it != parameters.end(); ++it) {
            std::string path = JsonKey("parameters", it.key());
            std::vector<std::string> known;
            const std::pair<std::string, kivu5::DataType::Kind>* found = nullptr;
            for (const auto& parameter : catalogue.parameters) {
                known.push_back(parameter.first);
                found = parameter.first == it.key() ? &parameter : found;
            }
            if (found == nullptr) {
                check.Fail(path, "unknown parameter (known: " + Joined(known) + ")");
            }
            settings.parameters.emplace_back(it.key(),
                                             ParameterValue(check, found->second, it.value(), path, input));
        }
    }
    if (root.contains("answers")) {
        const json& answers = check.Object(root["answers"], "answers");
        for (auto it = answers.begin(); it != answers.end(); ++it) {
            std::string path = JsonKey("answers", it.key());
            if (it.key() == "default") {
                settings.defaultAnswer = Answer(check, it.value(), path);
                continue;
            }
            std::vector<std::string> known = {"default"};
            known.insert(known.end(), catalogue.tests.begin(), catalogue.tests.end());
            if (std::find(known.begin() + 1, known.end(), it.key()) == known.end()) {
                check.Fail(path, "unknown test (known: " + Joined(known) + ")");
            }
            settings.answers[it.key()] = Answer(check, it.value(), path);
        }
    }
    return settings;
}

HostSettings LoadSettingsFile(const std::string& path, const SettingsCatalogue& catalogue) {
    return ParseSettings(ReadInputFile(path, "--settings"), path, catalogue);
}

} // namespace tarnhost
