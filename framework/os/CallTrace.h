// A trace of every call that crosses the platform seam: each Win32 call with its arguments and result,
// each kernel-mode services call and register transfer with address and value. Tests assert on it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarnos {

struct TraceEntry {
    std::string call;              // "CreateFileW", "PortReadByte", "Sleep", ...
    std::vector<std::string> args; // each argument as text: numbers in hex (0x..) or decimal as noted
    std::string result;            // the result as text ("" for void)
    std::string ToString() const;  // call(arg, arg) -> result
};

class CallTrace {
public:
    static CallTrace& Instance();
    void Enable(bool on) { m_enabled = on; }
    bool Enabled() const { return m_enabled; }
    // Whether an entry for this call would be kept: tracing on, the call in the filter (if one is set) and
    // the limit not reached. Callers ask first, so no entry is built for nothing (register polls are hot).
    bool Wants(const char* call);
    // Only these calls are recorded (all when empty).
    void SetFilter(std::vector<std::string> calls) { m_filter = std::move(calls); }
    // At most this many entries are kept; later ones are not recorded.
    void SetLimit(size_t limit) { m_limit = limit; }
    void Clear() { m_entries.clear(); }
    void Add(TraceEntry entry);
    const std::vector<TraceEntry>& Entries() const { return m_entries; }
    // Only the entries of one call name, or of several.
    std::vector<TraceEntry> Only(const std::vector<std::string>& calls) const;
    // Every entry as one line, for readable test failures.
    std::vector<std::string> Lines(const std::vector<std::string>& calls = {}) const;

private:
    bool m_enabled = false;
    std::vector<std::string> m_filter;
    size_t m_limit = 1000000;
    std::vector<TraceEntry> m_entries;
};

std::string Hex(uint64_t value);
std::string Narrow(const wchar_t* wide);

} // namespace tarnos
