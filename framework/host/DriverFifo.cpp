#include "host/DriverFifo.h"

#include "uart/SerialReg.h"

#include <string>

namespace tarnhost {
namespace {

// The kernel's numbers for the UART types (include/uapi/linux/serial_core.h).
const unsigned long PORT_8250 = 1;
const unsigned long PORT_16550 = 3;
const unsigned long PORT_16550A = 4;

} // namespace

void SetLinuxDriverFifo(unsigned long uartType, HostDevice& device) {
    if (uartType >= PORT_8250 && uartType <= PORT_16550) {
        device.fifoControl = UART_FCR_OFF;
        device.fifoSource =
            "the 8250 driver's for a UART of type " + std::to_string(uartType) + " (FIFOs off)";
    } else if (uartType == PORT_16550A) {
        device.fifoControl = UART_FCR_ENABLE_FIFO | UART_FCR_R_TRIG_10;
        device.fifoSource = "the 8250 driver's for a 16550A";
    } else {
        device.fifoControl.reset();
        device.fifoSource =
            "the 8250 driver's setting for a UART of type " + std::to_string(uartType) + " is not known here";
    }
}

void SetWindowsDriverFifo(HostDevice& device) {
    device.fifoControl = UART_FCR_ENABLE_FIFO | UART_FCR_R_TRIG_10;
    device.fifoSource = "the Windows serial driver's default";
}

} // namespace tarnhost
