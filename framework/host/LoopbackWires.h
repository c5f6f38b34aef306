// In internal loopback (MCR's LOOP bit) the UART ties each modem-control output to one modem-status input:
// DTR drives DSR, RTS drives CTS, OUT1 drives RI and OUT2 drives DCD. MSR's upper four bits, shifted down,
// are the inputs as the tests compare them. Listed in the order people name the outputs.
#pragma once

#include "uart/SerialReg.h"

namespace tarnhost {

struct LoopbackWire {
    unsigned output; // MCR bit
    unsigned input;  // bit of MSR >> 4
    const char* outputName;
    const char* inputName;
};

inline constexpr LoopbackWire LOOPBACK_WIRES[] = {
    {UART_MCR_DTR, UART_MSR_DSR >> UART_MSR_INPUTS_SHIFT, "DTR", "DSR"},
    {UART_MCR_RTS, UART_MSR_CTS >> UART_MSR_INPUTS_SHIFT, "RTS", "CTS"},
    {UART_MCR_OUT1, UART_MSR_RI >> UART_MSR_INPUTS_SHIFT, "OUT1", "RI"},
    {UART_MCR_OUT2, UART_MSR_DCD >> UART_MSR_INPUTS_SHIFT, "OUT2", "DCD"},
};

} // namespace tarnhost
