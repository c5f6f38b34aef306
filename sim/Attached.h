// What is plugged into a port's connector (its AttachedConfig): a loopback plug, a modem that answers
// "AT\r", or nothing; with the faults of a worn plug or cable (lost bytes, zeros after a pass, lines held
// high or low outside the port, a receive line stuck).
#pragma once

#include "os/Win32Types.h"
#include "sim/LineTiming.h"
#include "sim/ReceiveQueue.h"
#include "sim/Scenario.h"

#include <cstdint>
#include <string>

namespace tarnsim {

class CAttachedDevice {
public:
    explicit CAttachedDevice(const AttachedConfig& config) : m_config(config) {}

    const AttachedConfig& Config() const { return m_config; }

    // The port was opened: no part of an "AT\r" has been heard yet.
    void PortOpened() { m_heard.clear(); }
    // SetCommState started a new pass: positions (drop, appendZeros) count from 0 again.
    void NewPass() { m_position = 0; }

    // The port sent one character whose last bit left at endUs; what the device sends back is scheduled
    // on rx at the line's timing.
    void Hear(uint8_t byte, uint64_t endUs, const CLineTiming& line, CReceiveQueue& rx);

    // The modem-status word (MS_CTS_ON, MS_DSR_ON) seen with the port's DTR and RTS outputs as given.
    DWORD ModemStatus(bool dtr, bool rts) const;

private:
    void Arrive(CReceiveQueue& rx, uint64_t atUs, uint8_t byte) const;

    const AttachedConfig& m_config;
    uint32_t m_position = 0; // bytes written since the last SetCommState
    std::string m_heard;     // the last bytes heard since open or the last reply, at most three
};

} // namespace tarnsim
