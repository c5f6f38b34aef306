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
// The value of a parameter of this type, from text.
kivu5::Value ParseParameterValue(kivu5::DataType::Kind type, const std::string& text,
                                 const std::string& input);

// A value written back as text, in the form the parsers above read: "9600,115200", "true".
std::string ParameterValueText(const kivu5::Value& value);

} // namespace tarnhost
