#include "sim/NsBankedUart.h"

#include "uart/SerialReg.h"

namespace tarnsim {

CNsBankedUart::CNsBankedUart(UartConfig& config, const CVirtualClock& clock)
    : m_uart(config, clock), m_config(config) {}

CNsBankedUart::Bank CNsBankedUart::Selected(uint8_t lcr) {
    switch (lcr) {
    case UART_NS_BANK2:
        return Bank::Extended;
    case UART_NS_BANK3:
        return Bank::Identification;
    case UART_NS_BANK4:
        return Bank::Infrared;
    default:
        return (lcr & UART_NS_BANK_SELECT) ? Bank::DivisorLatch : Bank::Uart;
    }
}

uint8_t CNsBankedUart::Read(unsigned offset) {
    if (offset == UART_LCR || InUartBank()) {
        return WithMode(offset, m_uart.Read(offset));
    }
    if (m_bank == Bank::Identification && offset == UART_NS_ID) {
        return m_config.id;
    }
    if (m_bank == Bank::Infrared && offset == UART_NS_IRCR1) {
        return m_config.ircr;
    }
    if (m_bank == Bank::Extended && offset == UART_NS_EXCR1) {
        return m_config.excr1;
    }
    return 0x00; // the bank's other registers are not modelled
}

void CNsBankedUart::Write(unsigned offset, uint8_t value) {
    if (offset == UART_LCR) {
        m_uart.Write(offset, value); // the UART keeps the value, so LCR reads back what was written
        m_bank = Selected(value);
    } else if (InUartBank()) {
        m_uart.Write(offset, value);
    } else if (m_bank == Bank::Infrared && offset == UART_NS_IRCR1) {
        m_config.ircr = value; // the config holds the register, so a later read returns what was written
    } else if (m_bank == Bank::Extended && offset == UART_NS_EXCR1) {
        m_config.excr1 = value;
    }
    // Every other bank register (the identification register too) ignores writes.
}

uint8_t CNsBankedUart::WithMode(unsigned offset, uint8_t value) const {
    if (offset != UART_MCR || !(m_config.excr1 & UART_NS_EXCR1_EXT_MODE)) {
        return value;
    }
    return static_cast<uint8_t>((value & ~UART_MCR_NS_MODE) | (m_config.mcrMode & UART_MCR_NS_MODE));
}

} // namespace tarnsim
