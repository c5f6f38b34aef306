#include "host/ParameterValues.h"

#include "host/Findings.h"
#include "host/HostError.h"
#include "host/ParameterText.h"
#include "kivu5/Framework.h"
#include "os/SettableRates.h"

#include <algorithm>

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

std::string RateList(const std::vector<uint32_t>& rates) {
    std::string text;
    for (uint32_t rate : rates) {
        text += (text.empty() ? "" : ", ") + std::to_string(rate);
    }
    return text;
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
                                  "unknown parameter (known: " + Joined(ParameterNames()) + ")");
        }
        set(parameter, ParseParameterValue(parameter->type().kind(), item.second, "--set " + item.first));
    }
    for (auto& item : values) {
        item.first->setValue(item.second);
    }
}

std::string UnsettableRatesWarning(const std::vector<const kivu5::Test*>& tests) {
    const kivu5::Parameter* parameter = Framework::findParameter("BaudRates");
    bool used = std::any_of(tests.begin(), tests.end(), [parameter](const kivu5::Test* test) {
        return std::find(test->parameters().begin(), test->parameters().end(), parameter) !=
               test->parameters().end();
    });
    if (parameter == nullptr || !used) {
        return "";
    }
    std::vector<uint32_t> never;
    kivu5::Value list = parameter->value(); // a copy: ranging over a temporary's member would dangle
    for (uint32_t rate : list.array()) {
        if (tarnos::SettableRateBit(rate) == 0 && rate != SKIPPED_RATE_ENTRY &&
            std::find(never.begin(), never.end(), rate) == never.end()) {
            never.push_back(rate);
        }
    }
    if (never.empty()) {
        return "";
    }
    std::vector<uint32_t> settable;
    for (const tarnos::SettableRate& rate : tarnos::SETTABLE_RATES) {
        settable.push_back(rate.rate);
    }
    return "tarnserialport: warning: BaudRates: " + RateList(never) +
           " bit/s can never be set on a port, so each is reported and skipped (the rates that can: " +
           RateList(settable) + ")";
}

} // namespace tarnhost
