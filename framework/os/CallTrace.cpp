#include "os/CallTrace.h"

#include <algorithm>
#include <cstdio>

namespace tarnos {

std::string TraceEntry::ToString() const {
    std::string text = call + "(";
    for (size_t i = 0; i < args.size(); ++i) {
        text += (i ? ", " : "") + args[i];
    }
    text += ")";
    if (!result.empty()) {
        text += " -> " + result;
    }
    return text;
}

CallTrace& CallTrace::Instance() {
    static CallTrace trace;
    return trace;
}

bool CallTrace::Wants(const char* call) {
    if (!m_enabled) {
        return false;
    }
    if (!m_filter.empty() && std::find(m_filter.begin(), m_filter.end(), call) == m_filter.end()) {
        return false;
    }
    return m_entries.size() < m_limit;
}

void CallTrace::Add(TraceEntry entry) {
    if (m_enabled) {
        m_entries.push_back(std::move(entry));
    }
}

std::vector<TraceEntry> CallTrace::Only(const std::vector<std::string>& calls) const {
    std::vector<TraceEntry> out;
    for (const TraceEntry& e : m_entries) {
        if (std::find(calls.begin(), calls.end(), e.call) != calls.end()) {
            out.push_back(e);
        }
    }
    return out;
}

std::vector<std::string> CallTrace::Lines(const std::vector<std::string>& calls) const {
    std::vector<std::string> out;
    for (const TraceEntry& e : calls.empty() ? m_entries : Only(calls)) {
        out.push_back(e.ToString());
    }
    return out;
}

std::string HexText(uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string AsciiText(const wchar_t* wide) {
    std::string out;
    if (wide == nullptr) {
        return "NULL";
    }
    for (; *wide; ++wide) {
        unsigned c = static_cast<unsigned>(*wide);
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

} // namespace tarnos
