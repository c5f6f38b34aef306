// How long characters take on the line: one character is (1 start + data + parity + stop) bits, at a rate
// given either as a UART divisor (115200 / divisor bit/s) or as a DCB's BaudRate. Times are whole virtual
// microseconds, rounded up, and computed for k characters at once so that no rounding error builds up.
#pragma once

#include "os/Win32Types.h"

#include <cstdint>

namespace tarnsim {

class CLineTiming {
public:
    // The frame programmed into a UART's LCR and its divisor latch (0 counts as 65536).
    static CLineTiming FromUart(uint8_t lcr, uint16_t divisor);
    // The frame and rate of a DCB (ByteSize, Parity, StopBits, BaudRate).
    static CLineTiming FromDcb(const DCB& dcb);

    // Virtual microseconds that k characters take, rounded up.
    uint64_t TimeForChars(uint64_t k) const;

private:
    CLineTiming(uint64_t numerator, uint64_t denominator)
        : m_numerator(numerator), m_denominator(denominator) {}
    // One character lasts m_numerator / m_denominator microseconds.
    uint64_t m_numerator;
    uint64_t m_denominator;
};

} // namespace tarnsim
