#include "host/ParameterText.h"

#include "host/HostError.h"

#include <cctype>

namespace tarnhost {
namespace {

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

} // namespace

uint32_t ParseUint32(const std::string& text, const std::string& input) {
    // Made only on failure: a 100000-entry list parses every entry through here.
    auto notNumber = [&text] {
        return QuotedValue(text) + " is not an unsigned 32-bit number (decimal or 0x hex)";
    };
    // "0x" alone is no number: hex needs at least one digit after the prefix.
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    size_t start = hex ? 2 : 0;
    if (text.empty()) {
        throw CHostInputError(input, notNumber());
    }
    // Digits only: no sign, no blanks, no suffix, so "-1", "1e3" and "12abc" are all refused.
    uint64_t value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned digit = 0;
        if (std::isdigit(c)) {
            digit = static_cast<unsigned>(c - '0');
        } else if (hex && std::isxdigit(c)) {
            digit = static_cast<unsigned>(std::tolower(c) - 'a' + 10);
        } else {
            throw CHostInputError(input, notNumber());
        }
        value = value * (hex ? 16u : 10u) + digit;
        if (value > 0xFFFFFFFFull) {
            throw CHostInputError(input, QuotedValue(text) + " is larger than 4294967295 (0xFFFFFFFF)");
        }
    }
    return static_cast<uint32_t>(value);
}

namespace {

// A comma list of numbers; blanks around an entry are allowed; "" is the empty list.
std::vector<uint32_t> ParseUint32List(const std::string& text, const std::string& input) {
    std::vector<uint32_t> values;
    if (Trim(text).empty()) {
        return values; // an empty value is an empty array: the module then takes its default list
    }
    // One pass over the text, each entry copied once: linear in its length (a 100000-entry list is fine).
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        std::string item =
            Trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (item.empty()) {
            // A long list is shown cut short, so the entry's number says where.
            std::string where = text.size() > 40 ? " (entry " + std::to_string(values.size() + 1) + ")" : "";
            throw CHostInputError(input, "empty entry in the list " + QuotedValue(text) + where);
        }
        values.push_back(ParseUint32(item, input));
        if (comma == std::string::npos) {
            return values;
        }
        start = comma + 1;
    }
}

// "true" or "false".
bool ParseBool(const std::string& text, const std::string& input) {
    if (text == "true") {
        return true;
    }
    if (text == "false") {
        return false;
    }
    throw CHostInputError(input, QuotedValue(text) + " is not true or false");
}

} // namespace

kivu5::Value ParseParameterValue(kivu5::DataType::Kind type, const std::string& text,
                                 const std::string& input) {
    switch (type) {
    case kivu5::DataType::Boolean:
        return kivu5::Value::Bool(ParseBool(text, input));
    case kivu5::DataType::Uint32Array:
        return kivu5::Value::Uint32Array(ParseUint32List(text, input));
    default:
        // The module has no parameter of another type; refuse rather than guess a representation.
        throw CHostInputError(input, "parameters of this type cannot be set");
    }
}

std::string ParameterValueText(const kivu5::Value& value) {
    switch (value.kind()) {
    case kivu5::DataType::Boolean:
        return value.valueBool() ? "true" : "false";
    case kivu5::DataType::Uint32Array: {
        std::string text;
        for (uint32_t rate : value.array()) {
            text += (text.empty() ? "" : ",") + std::to_string(rate);
        }
        return text;
    }
    case kivu5::DataType::Text:
        return value.text();
    default:
        return std::to_string(value.number());
    }
}

} // namespace tarnhost
