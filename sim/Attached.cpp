#include "sim/Attached.h"

#include <algorithm>

namespace tarnsim {
namespace {

const char* const MODEM_COMMAND = "AT\r";
const size_t MODEM_COMMAND_LENGTH = 3;
const uint64_t REPLY_DELAY_US = 20000; // a modem answers 20 ms after the command's '\r'
const uint32_t PASS_LENGTH = 256;      // one pass of the loopback ramp; appendZeros follow each full pass

bool Line(AttachedConfig::Hold hold, bool wired) {
    switch (hold) {
    case AttachedConfig::Hold::High:
        return true;
    case AttachedConfig::Hold::Low:
        return false;
    default:
        return wired;
    }
}

} // namespace

void CAttachedDevice::Hear(uint8_t byte, uint64_t endUs, const CLineTiming& line, CReceiveQueue& rx) {
    const uint32_t position = m_position++;
    const bool lost = std::find(m_config.drop.begin(), m_config.drop.end(), position) != m_config.drop.end();
    if (!lost) {
        if (m_config.txToRx) {
            Arrive(rx, endUs, byte); // the plug's echo is complete when the byte's last bit is
        }
        if (m_config.reply) {
            m_heard.push_back(static_cast<char>(byte));
            if (m_heard.size() > MODEM_COMMAND_LENGTH) {
                m_heard.erase(0, 1);
            }
            if (m_heard == MODEM_COMMAND) {
                m_heard.clear();
                const std::string& reply = *m_config.reply;
                const uint64_t start = endUs + REPLY_DELAY_US;
                for (size_t k = 0; k < reply.size(); ++k) {
                    Arrive(rx, start + line.TimeForChars(k + 1), static_cast<uint8_t>(reply[k]));
                }
            }
        }
    }
    if (m_position == PASS_LENGTH && m_config.txToRx) {
        for (uint32_t k = 1; k <= m_config.appendZeros; ++k) {
            Arrive(rx, endUs + line.TimeForChars(k), 0x00);
        }
    }
}

// A receive data line stuck low or high turns every byte that arrives into the same value.
void CAttachedDevice::Arrive(CReceiveQueue& rx, uint64_t atUs, uint8_t byte) const {
    rx.Schedule(atUs, m_config.rxStuckAt ? *m_config.rxStuckAt : byte);
}

DWORD CAttachedDevice::ModemStatus(bool dtr, bool rts) const {
    DWORD status = 0;
    if (Line(m_config.dsr, m_config.dtrToDsr && dtr)) {
        status |= MS_DSR_ON;
    }
    if (Line(m_config.cts, m_config.rtsToCts && rts)) {
        status |= MS_CTS_ON;
    }
    return status; // RI and DCD: no device of the scenarios drives them
}

} // namespace tarnsim
