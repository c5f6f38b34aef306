// The 16550A register model: one state record with a field per register and the hidden transmit shift
// register, the chip's reset values, one read switch and one write switch that honour DLAB, and character
// times derived from the frame and the divisor on the virtual clock. The FIFOs and interrupts are not
// modelled: FCR is stored, and IIR reads "no interrupt" with its two FIFO bits showing FCR's FIFO enable,
// as a 16550A's do.
#pragma once

#include "sim/Scenario.h"
#include "sim/UartModel.h"
#include "sim/VirtualClock.h"
#include "uart/SerialReg.h"

#include <cstdint>

namespace tarnsim {

// Every register of the chip, at its value after a master reset.
struct SUartState {
    uint8_t rbr = 0;                             // receiver buffer: the last byte received
    uint8_t thr = 0;                             // transmit holding register, full while THRE clear
    uint8_t tsr = 0;                             // hidden transmit shift register
    bool tsrBusy = false;                        // the shift register is sending tsr
    uint64_t tsrDoneUs = 0;                      // when tsr's last bit has left
    uint8_t ier = UART_IER_OFF;                  // stored; no interrupt is ever raised
    uint8_t iir = UART_IIR_NO_INT;               // no interrupt pending
    uint8_t fcr = 0;                             // stored; only its FIFO enable shows, in IIR
    uint8_t lcr = 0;                             // 5 data bits, 1 stop bit, no parity, DLAB clear
    uint8_t mcr = 0;                             // outputs off, loopback off
    uint8_t lsr = UART_LSR_THRE | UART_LSR_TEMT; // transmitter idle, nothing received
    uint8_t msr = UART_MSR_DCD | UART_MSR_DSR | UART_MSR_CTS; // outside loopback: a ready device's lines
    uint8_t scr = 0;                                          // scratch
    uint16_t divisor = 0x000C;                                // 9600 bit/s, as a BIOS leaves it
    uint8_t heldErrors = 0; // lineErrors fault: LSR bits shown until the byte is read from RBR
};

class CUart16550 : public IUartModel {
public:
    // A byte waiting in RBR at power-on comes from config.pending; every other fault is read at each access.
    CUart16550(const UartConfig& config, const CVirtualClock& clock);

    uint8_t Read(unsigned offset) override;
    void Write(unsigned offset, uint8_t value) override;

private:
    // Brings the transmitter up to the present: every character whose last bit has left is delivered.
    void Sync() {
        if (m_regs.tsrBusy && m_regs.tsrDoneUs <= m_clock.NowUs()) {
            CompleteShifts();
        }
    }
    void CompleteShifts();
    void Transmit(uint8_t value);
    void Receive(uint8_t sent);
    uint64_t CharTimeUs() const;
    uint32_t Rate() const;
    uint8_t LineStatus() const;
    uint8_t ModemStatus() const;
    uint8_t InterruptIdentification() const {
        return static_cast<uint8_t>(m_regs.iir |
                                    ((m_regs.fcr & UART_FCR_ENABLE_FIFO) ? UART_IIR_FIFO_ENABLED : 0));
    }
    bool DivisorLatchAccess() const { return (m_regs.lcr & UART_LCR_DLAB) != 0; }
    bool Loopback() const { return (m_regs.mcr & UART_MCR_LOOP) != 0; }

    SUartState m_regs;
    const UartConfig& m_config;
    const CVirtualClock& m_clock;
};

} // namespace tarnsim
