// Strict reading of the host's JSON inputs (scenario and settings files): every error names the file and
// the key's JSON path ("ports[0].uart.model"), so a typo never passes silently.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace tarnhost {

// Parses the text; a syntax error or a key given twice in one object is a CHostInputError naming input.
nlohmann::json ParseStrictJson(const std::string& text, const std::string& input);
// Reads the whole file; a file that cannot be read is a CHostInputError naming the path and the option.
std::string ReadInputFile(const std::string& path, const std::string& option);

// Checks of one value at a JSON path; each throws CHostInputError(input, path + ": " + problem).
class CJsonChecker {
public:
    explicit CJsonChecker(std::string input) : m_input(std::move(input)) {}

    [[noreturn]] void Fail(const std::string& path, const std::string& problem) const;
    // Every key of the object must be one of these.
    void OnlyKeys(const nlohmann::json& object, const std::string& path,
                  std::initializer_list<const char*> known) const;
    const nlohmann::json& Object(const nlohmann::json& value, const std::string& path) const;
    const nlohmann::json& Array(const nlohmann::json& value, const std::string& path) const;
    bool Bool(const nlohmann::json& value, const std::string& path) const;
    std::string String(const nlohmann::json& value, const std::string& path) const;
    // One of the listed strings.
    std::string Choice(const nlohmann::json& value, const std::string& path,
                       const std::vector<const char*>& choices) const;
    // A JSON integer from min to max (so 1.5, "1" and true are refused).
    uint64_t Integer(const nlohmann::json& value, const std::string& path, uint64_t min, uint64_t max) const;

private:
    std::string m_input;
};

// "ports[0]" and "ports[0].uart".
std::string JsonIndex(const std::string& path, size_t index);
std::string JsonKey(const std::string& path, const std::string& key);

} // namespace tarnhost
