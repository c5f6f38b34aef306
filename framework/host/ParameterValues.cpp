#include "host/ParameterValues.h"

#include "host/HostError.h"
#include "host/ParameterText.h"
#include "kivu5/Framework.h"

#include <utility>
#include <vector>

namespace tarnhost {
namespace {

using kivu5::Framework;

std::vector<std::string> ParameterNames() {
    std::vector<std::string> names;
    for (const kivu5::Parameter* parameter : Framework::parameters()) {
        names.push_back(parameter->name());
    }
    return names;
}

} // namespace

void ApplyParameterValues(const HostOptions& options, const HostSettings& settings) {
    std::vector<std::pair<kivu5::Parameter*, kivu5::Value>> values;
    auto set = [&values](kivu5::Parameter* parameter, kivu5::Value value) {
        for (auto& item : values) {
            if (item.first == parameter) {
                item.second = std::move(value);
                return;
            }
        }
        values.emplace_back(parameter, std::move(value));
    };
    // The defaults: the prompt on, and an empty BaudRates (so the module's default list).
    if (kivu5::Parameter* prompt = Framework::findParameter("PromptUserForLoopBack")) {
        set(prompt, kivu5::Value::Bool(true));
    }
    if (kivu5::Parameter* rates = Framework::findParameter("BaudRates")) {
        set(rates, kivu5::Value::Uint32Array({}));
    }
    for (const auto& item : settings.parameters) {
        set(Framework::findParameter(item.first), item.second); // names checked by the settings loader
    }
    for (const auto& item : options.sets) {
        kivu5::Parameter* parameter = Framework::findParameter(item.first);
        if (parameter == nullptr) {
            throw CHostInputError("--set " + item.first,
                                  "unknown parameter (known: " + CommaList(ParameterNames()) + ")");
        }
        set(parameter, ParseParameterValue(parameter->type().kind(), item.second, "--set " + item.first));
    }
    for (auto& item : values) {
        item.first->setValue(item.second);
    }
}

} // namespace tarnhost
