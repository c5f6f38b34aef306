#include "sim/LineTiming.h"

#include "uart/SerialReg.h"

namespace tarnsim {
namespace {

const uint64_t US_PER_S = 1000000;

// Half bits, so that 1.5 stop bits stay exact.
uint64_t HalfBits(unsigned dataBits, bool parity, unsigned stopHalfBits) {
    return 2 * (1 + dataBits + (parity ? 1 : 0)) + stopHalfBits;
}

} // namespace

CLineTiming CLineTiming::FromUart(uint8_t lcr, uint16_t divisor) {
    // The word-length field is the LCR's two low bits, whose all-ones value UART_LCR_WLEN8 also serves as
    // mask.
    unsigned dataBits = 5u + (lcr & UART_LCR_WLEN8);
    unsigned stopHalfBits = 2;
    if (lcr & UART_LCR_STOP) {
        stopHalfBits = dataBits == 5 ? 3 : 4; // 1.5 stop bits with 5-bit words, as on a 16550
    }
    uint64_t latch = divisor == 0 ? 65536u : divisor;
    return CLineTiming(HalfBits(dataBits, (lcr & UART_LCR_PARITY) != 0, stopHalfBits) * latch * US_PER_S,
                       2u * UART_BASE_BAUD);
}

CLineTiming CLineTiming::FromDcb(const DCB& dcb) {
    unsigned stopHalfBits = dcb.StopBits == TWOSTOPBITS ? 4 : dcb.StopBits == ONE5STOPBITS ? 3 : 2;
    uint64_t rate = dcb.BaudRate == 0 ? 1 : dcb.BaudRate; // SetCommState refuses 0; never divide by it
    return CLineTiming(HalfBits(dcb.ByteSize, dcb.Parity != NOPARITY, stopHalfBits) * US_PER_S, 2u * rate);
}

uint64_t CLineTiming::TimeForChars(uint64_t k) const {
    return (k * m_numerator + m_denominator - 1) / m_denominator;
}

} // namespace tarnsim
