// Shared by the I/O-port guard's tests: a recording fake port-I/O backend to put behind the guard, the
// refusal lines a run logged, and the safety net of every test program that can reach the real backends.
#pragma once

#include "kivu5/Framework.h"
#include "os/OsBackend.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace guardtests {

// Records every access that reaches it; reads give 0xA5, or the inner backend's answer when there is one.
class CRecordingPortIo final : public tarnos::IPortIoBackend {
public:
    explicit CRecordingPortIo(tarnos::IPortIoBackend* inner = nullptr) : m_Inner(inner) {}

    bool DriverOpen() override { return m_Inner == nullptr || m_Inner->DriverOpen(); }
    int ReadByte(unsigned short port, unsigned char* value) override {
        m_Reads.push_back(port);
        if (m_Inner != nullptr) {
            return m_Inner->ReadByte(port, value);
        }
        *value = 0xA5;
        return 0;
    }
    int WriteByte(unsigned short port, unsigned char value) override {
        m_Writes.emplace_back(port, value);
        return m_Inner != nullptr ? m_Inner->WriteByte(port, value) : 0;
    }

    // Every port that was read or written, in order.
    std::vector<uint16_t> Ports() const {
        std::vector<uint16_t> ports(m_Reads);
        for (const auto& write : m_Writes) {
            ports.push_back(write.first);
        }
        return ports;
    }

    std::vector<uint16_t> m_Reads;
    std::vector<std::pair<uint16_t, uint8_t>> m_Writes;

private:
    tarnos::IPortIoBackend* m_Inner;
};

// The log lines of a timeline whose text starts with prefix ("I/O port", "I/O base").
inline std::vector<std::string> LogLines(const std::vector<kivu5::TimelineEntry>& timeline,
                                         const std::string& prefix) {
    std::vector<std::string> lines;
    for (const kivu5::TimelineEntry& entry : timeline) {
        if (entry.kind == kivu5::TimelineEntry::Log && entry.text.rfind(prefix, 0) == 0) {
            lines.push_back(entry.text);
        }
    }
    return lines;
}

// The line the guard logs for a refused access outside any console window.
inline std::string OutsideLine(const std::string& port) {
    return "I/O port " + port + " refused: outside the UART window of the port under test";
}

} // namespace guardtests
