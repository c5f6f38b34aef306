// The call trace: while it is on, every call that crosses the platform seam is kept as text, in order:
// each Win32 call with its arguments and result (os/OsSeam.cpp), each call of the kernel-mode services
// library with port and value (os/TarnKernelModeServices.cpp). Tests read it to see what the module asked
// of the system; the program leaves it off.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarnos {

struct TraceEntry {
    std::string call;              // "CreateFileW", "PortReadByte", "Sleep", ...
    std::vector<std::string> args; // each argument as text: numbers in hex (0x..) or decimal
    std::string result;            // the result as text ("" for void)
    std::string ToString() const;  // call(arg, arg) -> result
};

class CallTrace {
public:
    static CallTrace& Instance();
    void Enable(bool on) { m_enabled = on; }
    bool Enabled() const { return m_enabled; }
    // Whether an entry for this call would be kept: tracing on, the call in the filter (if one is set) and
    // the limit not reached. Callers ask first, so that no text is built for nothing: the register polls
    // of the internal tests are the hot path.
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

// "0x2F8": a number as the trace shows addresses, values and flags.
std::string HexText(uint64_t value);
// A wide text as ASCII, any other character as '?'; "NULL" for a null pointer.
std::string AsciiText(const wchar_t* wide);

} // namespace tarnos
