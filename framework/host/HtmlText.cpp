#include "host/HtmlText.h"

namespace tarnhost {
namespace {

// The length of the valid UTF-8 sequence at text[i], 0 when there is none.
size_t Utf8Length(const std::string& text, size_t i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

} // namespace

std::string XmlEscape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t length = Utf8Length(text, i);
        if (length == 0) {
            out += '?';
            ++i;
            continue;
        }
        if (length > 1) {
            out += text.substr(i, length);
            i += length;
            continue;
        }
        char c = text[i++];
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '\n':
        case '\t':
            out += c;
            break;
        case '\r':
            out += "&#13;"; // kept through XML's line-end normalisation
            break;
        default:
            out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
            break;
        }
    }
    return out;
}

} // namespace tarnhost
