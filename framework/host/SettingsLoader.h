// The settings file (--settings FILE, documented in docs/host.md): parameter values and preset answers
// to the module's prompts, read strictly like the scenario files.
#pragma once

#include "host/PromptAnswer.h"
#include "kivu5/kivu5.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnhost {

// What the settings may name: the module's parameters with their types, and its tests.
struct SettingsCatalogue {
    std::vector<std::pair<std::string, kivu5::DataType::Kind>> parameters;
    std::vector<std::string> tests;
};

// The catalogue of the module as it registered itself with the framework.
SettingsCatalogue ModuleCatalogue();

struct HostSettings {
    std::vector<std::pair<std::string, kivu5::Value>> parameters; // in key order
    std::optional<PromptAnswer> defaultAnswer;                    // "answers": {"default": ...}
    std::map<std::string, PromptAnswer> answers;                  // by test name

    // The preset answer for a prompt shown by this test, if any.
    std::optional<PromptAnswer> AnswerFor(const std::string& testName) const;
};

HostSettings ParseSettings(const std::string& jsonText, const std::string& input,
                           const SettingsCatalogue& catalogue);
HostSettings LoadSettingsFile(const std::string& path, const SettingsCatalogue& catalogue);

} // namespace tarnhost
