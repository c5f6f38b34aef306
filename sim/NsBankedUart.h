// A banked National Semiconductor UART, the kind with an infrared mode: a 16550A whose LCR (offset 3, in
// every bank) also selects a register bank. 0xE0, 0xE4 and 0xE8 select banks 2, 3 and 4; a value with bit
// 0x80 clear selects bank 0 (the plain UART); any other value with bit 0x80 set is bank 1, the divisor
// latch as on a 16550A. LCR reads back what was written.
#pragma once

#include "sim/Scenario.h"
#include "sim/Uart16550.h"
#include "sim/UartModel.h"

#include <cstdint>

namespace tarnsim {

class CNsBankedUart : public IUartModel {
public:
    // The bank registers are the config's id, ircr, excr1 and mcrMode, read at every access.
    CNsBankedUart(UartConfig& config, const CVirtualClock& clock);

    uint8_t Read(unsigned offset) override;
    void Write(unsigned offset, uint8_t value) override;

private:
    enum class Bank { Uart, DivisorLatch, Extended, Identification, Infrared };
    static Bank Selected(uint8_t lcr);
    bool InUartBank() const { return m_bank == Bank::Uart || m_bank == Bank::DivisorLatch; }
    // MCR bits 0xE0 show the operating mode while the extended mode is on.
    uint8_t WithMode(unsigned offset, uint8_t value) const;

    CUart16550 m_uart;
    UartConfig& m_config;
    Bank m_bank = Bank::Uart;
};

} // namespace tarnsim
