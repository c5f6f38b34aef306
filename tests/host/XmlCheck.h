// A small strict XML reader for the JUnit tests: it refuses what XML 1.0 refuses in our reports
// (unbalanced tags, unquoted or repeated attributes, raw '<' or '&', unknown entities, control
// characters) and gives back the element tree.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tarnhosttest {

struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes; // entity references resolved
    std::vector<XmlElement> children;
    std::string text; // character data directly inside, entity references resolved
};

// Parses a whole document; on error returns false and says why in error.
bool ParseXml(const std::string& document, XmlElement& root, std::string& error);

} // namespace tarnhosttest
