// Text as the HTML page and the JUnit XML report hold it.
#pragma once

#include <string>

namespace tarnhost {

// Text made safe for XML character data and attribute values: markup characters escaped, control
// characters XML 1.0 forbids and bytes that are not UTF-8 replaced by '?'.
std::string XmlEscape(const std::string& text);

// XML's escapes serve HTML's element content and quoted attribute values as well.
inline std::string HtmlEscape(const std::string& text) {
    return XmlEscape(text);
}

} // namespace tarnhost
