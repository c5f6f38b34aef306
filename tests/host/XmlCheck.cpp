#include "XmlCheck.h"

#include <cctype>
#include <stdexcept>

namespace tarnhosttest {
namespace {

class CReader {
public:
    explicit CReader(const std::string& text) : m_text(text) {}

    XmlElement Document() {
        if (m_text.compare(0, 5, "<?xml") == 0) {
            size_t end = m_text.find("?>");
            Expect(end != std::string::npos, "unterminated XML declaration");
            m_pos = end + 2;
        }
        SkipBlanks();
        XmlElement root = Element();
        SkipBlanks();
        Expect(m_pos == m_text.size(), "text after the root element");
        return root;
    }

private:
    void Expect(bool condition, const std::string& what) const {
        if (!condition) {
            throw std::runtime_error(what + " at offset " + std::to_string(m_pos));
        }
    }
    bool AtEnd() const { return m_pos >= m_text.size(); }
    char Peek() const { return AtEnd() ? '\0' : m_text[m_pos]; }
    void SkipBlanks() {
        while (!AtEnd() && std::isspace(static_cast<unsigned char>(Peek()))) {
            ++m_pos;
        }
    }
    std::string Name() {
        size_t start = m_pos;
        while (!AtEnd() && (std::isalnum(static_cast<unsigned char>(Peek())) || Peek() == '_' ||
                            Peek() == '-' || Peek() == '.' || Peek() == ':')) {
            ++m_pos;
        }
        Expect(m_pos > start && !std::isdigit(static_cast<unsigned char>(m_text[start])), "bad name");
        return m_text.substr(start, m_pos - start);
    }
    // A character of character data or of an attribute value, with entity references resolved.
    std::string Char() {
        unsigned char c = static_cast<unsigned char>(Peek());
        Expect(c >= 0x20 || c == '\t' || c == '\n' || c == '\r', "control character");
        Expect(c != '<', "raw '<'");
        if (c != '&') {
            ++m_pos;
            return std::string(1, static_cast<char>(c));
        }
        size_t semicolon = m_text.find(';', m_pos);
        Expect(semicolon != std::string::npos, "unterminated entity reference");
        std::string entity = m_text.substr(m_pos + 1, semicolon - m_pos - 1);
        m_pos = semicolon + 1;
        static const std::map<std::string, std::string> named = {
            {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}};
        auto it = named.find(entity);
        if (it != named.end()) {
            return it->second;
        }
        Expect(entity.size() > 1 && entity[0] == '#', "unknown entity &" + entity + ";");
        bool hex = entity[1] == 'x';
        std::string digits = entity.substr(hex ? 2 : 1);
        Expect(!digits.empty(), "empty character reference");
        for (char d : digits) {
            Expect(hex ? std::isxdigit(static_cast<unsigned char>(d)) != 0
                       : std::isdigit(static_cast<unsigned char>(d)) != 0,
                   "bad character reference");
        }
        unsigned long code = std::stoul(digits, nullptr, hex ? 16 : 10);
        Expect(code == 0x9 || code == 0xA || code == 0xD || code >= 0x20,
               "character reference to a control character");
        return code < 0x80 ? std::string(1, static_cast<char>(code)) : std::string("?");
    }
    XmlElement Element() {
        Expect(Peek() == '<', "expected '<'");
        ++m_pos;
        XmlElement element;
        element.name = Name();
        while (true) {
            bool blank = std::isspace(static_cast<unsigned char>(Peek())) != 0;
            SkipBlanks();
            if (Peek() == '/' || Peek() == '>') {
                break;
            }
            Expect(blank, "attributes must be separated by blanks");
            std::string name = Name();
            SkipBlanks();
            Expect(Peek() == '=', "expected '=' after attribute " + name);
            ++m_pos;
            SkipBlanks();
            char quote = Peek();
            Expect(quote == '"' || quote == '\'', "unquoted attribute " + name);
            ++m_pos;
            std::string value;
            while (Peek() != quote) {
                Expect(!AtEnd(), "unterminated attribute " + name);
                value += Char();
            }
            ++m_pos;
            Expect(element.attributes.emplace(name, value).second, "attribute " + name + " given twice");
        }
        if (Peek() == '/') {
            ++m_pos;
            Expect(Peek() == '>', "expected '>' after '/'");
            ++m_pos;
            return element;
        }
        ++m_pos; // '>'
        while (true) {
            Expect(!AtEnd(), "unterminated element " + element.name);
            if (m_text.compare(m_pos, 2, "</") == 0) {
                m_pos += 2;
                Expect(Name() == element.name, "end tag does not match <" + element.name + ">");
                SkipBlanks();
                Expect(Peek() == '>', "expected '>' in end tag");
                ++m_pos;
                return element;
            }
            if (Peek() == '<') {
                element.children.push_back(Element());
            } else {
                element.text += Char();
            }
        }
    }

    const std::string& m_text;
    size_t m_pos = 0;
};

} // namespace

bool ParseXml(const std::string& document, XmlElement& root, std::string& error) {
    try {
        root = CReader(document).Document();
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

} // namespace tarnhosttest
