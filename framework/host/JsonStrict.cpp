#include "host/JsonStrict.h"

#include "host/HostError.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace tarnhost {
namespace {

// Where the parser is, to name a key given twice by its path.
struct Frame {
    bool array = false;
    std::string path;
    std::set<std::string> keys;
    std::string lastKey;
    size_t count = 0;
};

// The deepest nesting of arrays and objects read. nlohmann's parser itself keeps its own stack, but
// printing, copying and comparing a value recurse, and a path per level would cost the square of the
// depth: 100000 levels of "[" would crash or hang. The scenario and settings files need 6 levels.
const size_t MAX_JSON_DEPTH = 64;

std::string ChildPath(const Frame& frame) {
    return frame.array ? JsonIndex(frame.path, frame.count) : JsonKey(frame.path, frame.lastKey);
}

// Where the reader is, to name a key given twice by its path, and how deep: every check a value needs
// before it is built.
class CStrictReader : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit CStrictReader(const std::string& input) : m_input(input) {}

    bool null() override { return Value(); }
    bool boolean(bool) override { return Value(); }
    bool number_integer(number_integer_t) override { return Value(); }
    bool number_unsigned(number_unsigned_t) override { return Value(); }
    bool number_float(number_float_t, const string_t&) override { return Value(); }
    bool string(string_t&) override { return Value(); }
    bool binary(binary_t&) override { return Value(); }
    bool start_object(std::size_t) override { return Start(false); }
    bool start_array(std::size_t) override { return Start(true); }
    bool end_object() override { return End(); }
    bool end_array() override { return End(); }

    bool key(string_t& name) override {
        Frame& top = m_frames.back();
        top.lastKey = name;
        if (!top.keys.insert(top.lastKey).second) {
            throw CHostInputError(m_input, JsonKey(top.path, top.lastKey) + ": key given twice");
        }
        return true;
    }

    // The library's own exception, for ParseStrictJson to word.
    bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception& error) override {
        if (const auto* syntax = dynamic_cast<const nlohmann::json::parse_error*>(&error)) {
            throw *syntax;
        }
        throw error;
    }

private:
    bool Value() {
        if (!m_frames.empty() && m_frames.back().array) {
            ++m_frames.back().count;
        }
        return true;
    }

    bool Start(bool array) {
        if (m_frames.size() == MAX_JSON_DEPTH) {
            throw CHostInputError(m_input, "arrays and objects nested more than " +
                                               std::to_string(MAX_JSON_DEPTH) + " levels deep");
        }
        Frame frame;
        frame.array = array;
        frame.path = m_frames.empty() ? "" : ChildPath(m_frames.back());
        m_frames.push_back(std::move(frame));
        return true;
    }

    bool End() {
        m_frames.pop_back();
        return Value();
    }

    std::string m_input;
    std::vector<Frame> m_frames;
};

std::string Shown(const nlohmann::json& value) {
    std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return text.size() > 40 ? text.substr(0, 37) + "..." : text;
}

} // namespace

std::string JsonIndex(const std::string& path, size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

std::string JsonKey(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
}

nlohmann::json ParseStrictJson(const std::string& text, const std::string& input) {
    // The lexer takes a NUL byte for the end of the input and would say "unexpected end of input".
    size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        throw CHostInputError(input, "not valid JSON: a NUL byte at offset " + std::to_string(nul) +
                                         " (a binary file, or UTF-16 text? JSON files are UTF-8)");
    }
    try {
        // Checked as it is read, then read into values: nlohmann's parse callback could check on the way,
        // but at the end of every object its parser scans the earlier items of the enclosing array, which
        // costs the square of the array's length (minutes for the timeline of a long soak's report).
        CStrictReader reader(input);
        nlohmann::json::sax_parse(text, &reader);
        return nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        // "[json.exception.parse_error.101] parse error at line 3, column 5: syntax error ..." without
        // the library's prefix.
        std::string message = e.what();
        size_t at = message.find("parse error at ");
        if (at != std::string::npos) {
            message = message.substr(at + 15);
        }
        throw CHostInputError(input, "not valid JSON: " + Printable(message));
    } catch (const nlohmann::json::exception& e) {
        // A number beyond a double ("1e400" is out_of_range.406), or any other refusal of the library:
        // still bad input, never an uncaught exception.
        std::string message = e.what();
        size_t bracket = message.find("] ");
        throw CHostInputError(
            input, Printable(bracket == std::string::npos ? message : message.substr(bracket + 2)));
    }
}

std::string ReadInputFile(const std::string& path, const std::string& option) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) { // opens fine on Linux, then reads as nothing
        throw CHostInputError(path, "is a directory (" + option + ")");
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw CHostInputError(path, "cannot be read (" + option + ")");
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        throw CHostInputError(path, "cannot be read (" + option + ")");
    }
    return text.str();
}

void CJsonChecker::Fail(const std::string& path, const std::string& problem) const {
    throw CHostInputError(m_input, (path.empty() ? "top level" : path) + ": " + problem);
}

void CJsonChecker::OnlyKeys(const nlohmann::json& object, const std::string& path,
                            std::initializer_list<const char*> known) const {
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool found = false;
        std::string names;
        for (const char* name : known) {
            found = found || it.key() == name;
            names += (names.empty() ? "" : ", ") + std::string(name);
        }
        if (!found) {
            Fail(JsonKey(path, it.key()), "unknown key (known here: " + names + ")");
        }
    }
}

const nlohmann::json& CJsonChecker::Object(const nlohmann::json& value, const std::string& path) const {
    if (!value.is_object()) {
        Fail(path, "expected an object, got " + Shown(value));
    }
    return value;
}

const nlohmann::json& CJsonChecker::Array(const nlohmann::json& value, const std::string& path) const {
    if (!value.is_array()) {
        Fail(path, "expected an array, got " + Shown(value));
    }
    return value;
}

bool CJsonChecker::Bool(const nlohmann::json& value, const std::string& path) const {
    if (!value.is_boolean()) {
        Fail(path, "expected true or false, got " + Shown(value));
    }
    return value.get<bool>();
}

std::string CJsonChecker::String(const nlohmann::json& value, const std::string& path) const {
    if (!value.is_string()) {
        Fail(path, "expected a string, got " + Shown(value));
    }
    return value.get<std::string>();
}

std::string CJsonChecker::Choice(const nlohmann::json& value, const std::string& path,
                                 const std::vector<const char*>& choices) const {
    std::string names;
    for (const char* choice : choices) {
        if (value.is_string() && value.get<std::string>() == choice) {
            return choice;
        }
        names += (names.empty() ? "\"" : ", \"") + std::string(choice) + "\"";
    }
    Fail(path, "expected one of " + names + ", got " + Shown(value));
}

uint64_t CJsonChecker::Integer(const nlohmann::json& value, const std::string& path, uint64_t min,
                               uint64_t max) const {
    std::string range = "from " + std::to_string(min) + " to " + std::to_string(max);
    if (value.is_number_unsigned()) {
        uint64_t number = value.get<uint64_t>();
        if (number >= min && number <= max) {
            return number;
        }
        Fail(path, Shown(value) + " is out of range (" + range + ")");
    }
    if (value.is_number_integer()) { // negative: nlohmann keeps non-negative integers as unsigned
        Fail(path, Shown(value) + " is out of range (" + range + ")");
    }
    Fail(path, "expected an integer " + range + ", got " + Shown(value));
}

} // namespace tarnhost
