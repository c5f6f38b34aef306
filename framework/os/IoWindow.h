// The I/O-port windows of UARTs, as the platform reports them and as the I/O-port guard (os/IoPortGuard.h)
// lets them through. Free of Win32 names, so the host may include it anywhere.
#pragma once

#include "uart/SerialReg.h"

#include <cstdint>
#include <string>

namespace tarnos {

// A UART's registers, offsets 0 to 7 from its I/O base.
const uint32_t UART_WINDOW_BYTES = UART_REGISTER_COUNT;
// The highest base whose window still ends inside the 16-bit I/O space.
const uint32_t HIGHEST_UART_WINDOW_BASE = 0x10000 - UART_WINDOW_BYTES;

// One window [base, base + 8) that the platform reports for a serial port.
struct UartWindow {
    uint32_t base = 0;    // as the platform gives it
    std::string device;   // the port it belongs to: "COM2"
    bool console = false; // the port carries the kernel's console: never accessed
};

// Why no UART can sit at base, "" when one can. Refused whoever claims them: windows past the end of the
// I/O space; the system board's 0x0000-0x00FF (interrupt and DMA controllers, timer, keyboard, the RTC at
// 0x70); the PCI configuration and reset ports 0x0CF8-0x0CFF.
std::string ForbiddenWindowReason(uint32_t base);

// Whether the windows at bases a and b share a port.
bool WindowsOverlap(uint32_t a, uint32_t b);

// "0x02F8-0x02FF": the window at base as people read it.
std::string WindowText(uint32_t base);
// "0x02F8": a port or base in four hex digits (more when wider).
std::string PortText(uint32_t port);

} // namespace tarnos
