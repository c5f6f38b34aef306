#include "support/Timeline.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace tarntest {
namespace {

std::string Vars(const std::vector<kivu5::VariableRecord>& vars) {
    std::string out = "{";
    for (size_t i = 0; i < vars.size(); ++i) {
        const kivu5::Value& v = vars[i].value;
        out += (i ? ", " : "") + vars[i].name + ":" + v.typeName() + "=";
        out += v.kind() == kivu5::DataType::Text ? v.text() : std::to_string(v.number());
    }
    return out + "}";
}

const char* KindName(kivu5::TimelineEntry::Kind kind) {
    switch (kind) {
    case kivu5::TimelineEntry::EventRaised:
        return "event";
    case kivu5::TimelineEntry::Progress:
        return "progress";
    case kivu5::TimelineEntry::Percent:
        return "percent";
    case kivu5::TimelineEntry::Prompt:
        return "prompt";
    case kivu5::TimelineEntry::Log:
        return "log";
    case kivu5::TimelineEntry::Trace:
        return "trace";
    }
    return "?";
}

// Rule 3 of Part 1.2: "<decimal line> <message>". The line is checked here and left out of the description.
std::string WithoutLineNumber(const std::string& text) {
    size_t blank = text.find(' ');
    if (blank == 0 || blank == std::string::npos ||
        !std::all_of(text.begin(), text.begin() + static_cast<long>(blank),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        throw std::runtime_error("log text without a leading line number: " + text);
    }
    return text.substr(blank + 1);
}

} // namespace

std::string Describe(const kivu5::TimelineEntry& e) {
    switch (e.kind) {
    case kivu5::TimelineEntry::EventRaised:
        return "event " + e.severity + " " + e.name + " " + Vars(e.vars) +
               (e.file == "SerialPortTest" ? "" : " file=" + e.file);
    case kivu5::TimelineEntry::Progress:
        return "progress " + e.name + " " + Vars(e.vars);
    case kivu5::TimelineEntry::Percent:
        return "percent " + std::to_string(e.value);
    case kivu5::TimelineEntry::Log:
        return "log " + std::to_string(e.value) + " " + WithoutLineNumber(e.text);
    case kivu5::TimelineEntry::Prompt: {
        std::string nulls = (e.nullDetails && e.nullCallback && e.nullContext) ? " nulls" : " not-null";
        std::string source = e.answerSource == kivu5::FROM_SETTINGS_FILE() ? "FROM_SETTINGS_FILE"
                                                                           : std::to_string(e.answerSource);
        return "prompt " + std::to_string(e.type) + " option=" + std::to_string(e.option) +
               " look=" + std::to_string(e.lookAndFeel) + nulls + " source=" + source +
               " timeout=" + std::to_string(e.timeout) + (e.modal ? " modal" : " modeless") + " -> " +
               std::to_string(e.value);
    }
    case kivu5::TimelineEntry::Trace:
        return std::string("trace ") + (e.value ? "-> " : "<- ") + e.name;
    }
    return "?";
}

std::vector<std::string> Describe(const std::vector<kivu5::TimelineEntry>& timeline) {
    std::vector<std::string> out;
    for (const kivu5::TimelineEntry& e : timeline) {
        out.push_back(Describe(e));
    }
    return out;
}

std::vector<std::string> Describe(const std::vector<kivu5::TimelineEntry>& timeline,
                                  const std::vector<std::string>& kinds) {
    std::vector<std::string> out;
    for (const kivu5::TimelineEntry& e : timeline) {
        if (std::find(kinds.begin(), kinds.end(), KindName(e.kind)) != kinds.end()) {
            out.push_back(Describe(e));
        }
    }
    return out;
}

std::vector<std::string> EventNames(const std::vector<kivu5::TimelineEntry>& timeline) {
    std::vector<std::string> out;
    for (const kivu5::TimelineEntry& e : timeline) {
        if (e.kind == kivu5::TimelineEntry::EventRaised) {
            out.push_back(e.name);
        }
    }
    return out;
}

std::vector<int> Percentages(const std::vector<kivu5::TimelineEntry>& timeline) {
    std::vector<int> out;
    for (const kivu5::TimelineEntry& e : timeline) {
        if (e.kind == kivu5::TimelineEntry::Percent) {
            out.push_back(e.value);
        }
    }
    return out;
}

size_t Count(const std::vector<kivu5::TimelineEntry>& timeline, const std::string& describedLine) {
    size_t n = 0;
    for (const kivu5::TimelineEntry& e : timeline) {
        if (Describe(e) == describedLine) {
            ++n;
        }
    }
    return n;
}

} // namespace tarntest
