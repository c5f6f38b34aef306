// The twelve rates a port can be asked about through the dwSettableBaud field of COMMPROP, each with the
// bit a driver sets there when it can run the port at that rate. Other rates (110, 600, 230400, ...) are
// not among them: whether a driver can set those is never asked.
#pragma once

#include "os/Win32Types.h"

namespace tarnos {

struct SettableRate {
    DWORD rate; // bit/s
    DWORD bit;  // BAUD_* of dwSettableBaud
};

inline constexpr SettableRate SETTABLE_RATES[] = {
    {300, BAUD_300},   {1200, BAUD_1200},   {2400, BAUD_2400},     {4800, BAUD_4800},
    {9600, BAUD_9600}, {14400, BAUD_14400}, {19200, BAUD_19200},   {38400, BAUD_38400},
    {56000, BAUD_56K}, {57600, BAUD_57600}, {115200, BAUD_115200}, {128000, BAUD_128K},
};

// The bit of a rate of the table; 0 for every other rate.
constexpr DWORD SettableRateBit(DWORD rate) {
    for (const SettableRate& settable : SETTABLE_RATES) {
        if (settable.rate == rate) {
            return settable.bit;
        }
    }
    return 0;
}

constexpr DWORD AllSettableRateBits() {
    DWORD bits = 0;
    for (const SettableRate& settable : SETTABLE_RATES) {
        bits |= settable.bit;
    }
    return bits;
}

// The bits of all twelve: a driver that can set every rate of the table.
inline constexpr DWORD SETTABLE_RATES_MASK = AllSettableRateBits();

} // namespace tarnos
