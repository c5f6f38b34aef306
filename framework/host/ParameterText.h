// Parameter values written as text (--set, and strings in the settings file): the BaudRates list and the
// PromptUserForLoopBack flag, turned into framework values.
#pragma once

#include "kivu5/kivu5.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnhost {

// One unsigned 32-bit number, decimal or 0x hex. Throws CHostInputError naming input.
uint32_t ParseUint32(const std::string& text, const std::string& input);
// A comma list of such numbers; blanks around an entry are allowed; "" is the empty list.
std::vector<uint32_t> ParseUint32List(const std::string& text, const std::string& input);
// "true" or "false".
bool ParseBool(const std::string& text, const std::string& input);
// The value of a parameter of this type, from text.
kivu5::Value ParseParameterValue(kivu5::DataType::Kind type, const std::string& text,
                                 const std::string& input);

// How a value is shown to people (--list-tests, messages): "9600,115200", "true".
std::string ParameterValueText(const kivu5::Value& value);
// The type as users write it: "true|false", "comma list of unsigned 32-bit numbers".
std::string ParameterTypeText(kivu5::DataType::Kind type);

} // namespace tarnhost
