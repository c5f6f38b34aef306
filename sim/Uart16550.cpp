#include "sim/Uart16550.h"

#include "sim/LineTiming.h"

#include <algorithm>

namespace tarnsim {
namespace {

const uint8_t LSR_ERRORS = UART_LSR_OE | UART_LSR_PE | UART_LSR_FE | UART_LSR_BI;
const unsigned BYTE_BITS = 8;
const uint8_t LOW_BYTE = 0xFF;

} // namespace

CUart16550::CUart16550(const UartConfig& config, const CVirtualClock& clock)
    : m_config(config), m_clock(clock) {
    if (config.pending) {
        m_regs.rbr = *config.pending;
        m_regs.lsr |= UART_LSR_DR;
    }
}

uint8_t CUart16550::Read(unsigned offset) {
    Sync();
    switch (offset) {
    case UART_RX:
        if (DivisorLatchAccess()) {
            return static_cast<uint8_t>(m_regs.divisor & LOW_BYTE);
        }
        m_regs.lsr &= static_cast<uint8_t>(~UART_LSR_DR);
        m_regs.heldErrors = 0;
        return m_regs.rbr;
    case UART_IER:
        return DivisorLatchAccess() ? static_cast<uint8_t>(m_regs.divisor >> BYTE_BITS) : m_regs.ier;
    case UART_IIR:
        return InterruptIdentification();
    case UART_LCR:
        return m_regs.lcr;
    case UART_MCR:
        return m_regs.mcr;
    case UART_LSR: {
        uint8_t value = LineStatus();
        m_regs.lsr &= static_cast<uint8_t>(~LSR_ERRORS); // a 16550A clears its error bits when LSR is read
        return value;
    }
    case UART_MSR:
        return ModemStatus();
    default:
        return m_regs.scr;
    }
}

void CUart16550::Write(unsigned offset, uint8_t value) {
    Sync();
    switch (offset) {
    case UART_TX:
        if (DivisorLatchAccess()) {
            m_regs.divisor = static_cast<uint16_t>((m_regs.divisor & ~LOW_BYTE) | value);
        } else {
            Transmit(value);
        }
        break;
    case UART_IER:
        if (DivisorLatchAccess()) {
            m_regs.divisor = static_cast<uint16_t>((m_regs.divisor & LOW_BYTE) | (value << BYTE_BITS));
        } else {
            m_regs.ier = value;
        }
        break;
    case UART_FCR:
        m_regs.fcr = value;
        break;
    case UART_LCR:
        m_regs.lcr = value;
        break;
    case UART_MCR:
        m_regs.mcr = static_cast<uint8_t>(value & (UART_MCR_LOOP | UART_MCR_OUTPUTS)); // bits 5..7 read 0
        break;
    case UART_LSR:
    case UART_MSR:
        break; // read-only status (the factory-test writes of the datasheet are not modelled)
    default:
        m_regs.scr = value;
        break;
    }
}

// A byte written to THR goes to the shift register at once when that is idle (THRE stays set); otherwise it
// waits in THR, with THRE clear, until the shift register is free.
void CUart16550::Transmit(uint8_t value) {
    if (!m_regs.tsrBusy) {
        m_regs.tsr = value;
        m_regs.tsrBusy = true;
        m_regs.tsrDoneUs = m_clock.NowUs() + CharTimeUs();
        m_regs.lsr = static_cast<uint8_t>((m_regs.lsr | UART_LSR_THRE) & ~UART_LSR_TEMT);
    } else {
        m_regs.thr = value; // a byte already waiting is overwritten, as on the chip
        m_regs.lsr &= static_cast<uint8_t>(~UART_LSR_THRE);
    }
}

void CUart16550::CompleteShifts() {
    const uint64_t now = m_clock.NowUs();
    while (m_regs.tsrBusy && m_regs.tsrDoneUs <= now) {
        if (Loopback()) {
            Receive(m_regs.tsr); // without LOOP the byte leaves by the connector, which is not modelled here
        }
        if (!(m_regs.lsr & UART_LSR_THRE)) {
            m_regs.tsr = m_regs.thr;
            m_regs.tsrDoneUs += CharTimeUs();
            m_regs.lsr |= UART_LSR_THRE;
        } else {
            m_regs.tsrBusy = false;
            m_regs.lsr |= UART_LSR_TEMT;
        }
    }
}

// A character reaching the receiver through the internal loopback, with the faults of the UART's config.
void CUart16550::Receive(uint8_t sent) {
    if (m_config.noEcho) {
        return;
    }
    const uint32_t rate = Rate();
    uint8_t received = sent;
    for (const CorruptRule& rule : m_config.corrupt) {
        if (rule.rate == rate && rule.value == sent) {
            received = rule.readAs;
            break;
        }
    }
    for (const LineErrorRule& rule : m_config.lineErrors) {
        if (rule.rate == rate && rule.value == sent) {
            m_regs.heldErrors |= static_cast<uint8_t>(rule.lsr & LSR_ERRORS);
        }
    }
    if (m_regs.lsr & UART_LSR_DR) {
        m_regs.lsr |= UART_LSR_OE; // the byte not yet read is overwritten
    }
    m_regs.rbr = received;
    m_regs.lsr |= UART_LSR_DR;
}

uint64_t CUart16550::CharTimeUs() const {
    return CLineTiming::FromUart(m_regs.lcr, m_regs.divisor).TimeForChars(1);
}

uint32_t CUart16550::Rate() const {
    return UART_BASE_BAUD / (m_regs.divisor == 0 ? 65536u : m_regs.divisor);
}

uint8_t CUart16550::LineStatus() const {
    uint8_t value = static_cast<uint8_t>(m_regs.lsr | m_regs.heldErrors);
    const std::vector<uint32_t>& lostAt = m_config.noThreAt;
    if (m_config.noThre ||
        (!lostAt.empty() && std::find(lostAt.begin(), lostAt.end(), Rate()) != lostAt.end())) {
        value &= static_cast<uint8_t>(~UART_LSR_THRE);
    }
    return value;
}

// In loopback the chip wires its four modem-control outputs to its four modem-status inputs: DTR to DSR,
// RTS to CTS, OUT1 to RI and OUT2 to DCD. The delta bits (the low four) are not modelled and read 0.
uint8_t CUart16550::ModemStatus() const {
    if (m_config.msr == UartConfig::Msr::Zero) {
        return 0; // the fault: the inputs always read 0
    }
    if (!Loopback()) {
        return m_regs.msr;
    }
    const bool swap = m_config.msr == UartConfig::Msr::Swap;
    uint8_t value = 0;
    if (m_regs.mcr & UART_MCR_DTR) {
        value |= swap ? UART_MSR_CTS : UART_MSR_DSR;
    }
    if (m_regs.mcr & UART_MCR_RTS) {
        value |= swap ? UART_MSR_DSR : UART_MSR_CTS;
    }
    if (m_regs.mcr & UART_MCR_OUT1) {
        value |= UART_MSR_RI;
    }
    if (m_regs.mcr & UART_MCR_OUT2) {
        value |= UART_MSR_DCD;
    }
    return value;
}

} // namespace tarnsim
