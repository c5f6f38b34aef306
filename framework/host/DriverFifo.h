// The FIFO control register (FCR) cannot be read back, so after the register tests the host writes back
// what the OS's serial driver writes there (PortRestore.h). These say what that is, per driver.
#pragma once

#include "host/Devices.h"

namespace tarnhost {

// Linux's 8250 driver, by the UART type the kernel found (/sys/class/tty/ttyS*/type): FIFOs off on an
// 8250, 16450 and the first 16550 (whose FIFO is unreliable), on with a receive trigger at 8 bytes on a
// 16550A. Other types are not known here.
void SetLinuxDriverFifo(unsigned long uartType, HostDevice& device);
// Windows' serial driver: FIFOs forced on and the receive trigger at 8 bytes (its ForceFifoEnable and
// RxFIFO defaults). The simulated COM driver stands for it too.
void SetWindowsDriverFifo(HostDevice& device);

} // namespace tarnhost
