// Leaves a port as a test found it. The register-level tests leave the UART in internal loopback with its
// interrupts off and the line control and divisor of their last rate; the tests that go through the OS
// leave the COM port at their frame, without flow control, with their time-outs. Before a run the host
// saves, through the platform seam (so that a recording holds it and a replay checks it):
// - for the register-level tests (IDs 1 to 3): IER, LCR, the divisor latch (DLL and DLM, through DLAB),
//   MCR and the scratch register, and from IIR whether the FIFOs were on;
// - for the tests that set the COM port (IDs 3 to 5): its DCB and time-outs.
// After the run, however it ended, it writes them back: the COM port first, since opening and closing it
// lets the OS driver program the UART, then the registers. FCR cannot be read: when the FIFOs were off it
// is written 0, when they were on the OS driver's own setting (HostDevice::fifoControl) is written, and
// when that is not known one log line says so and FCR stays as the test left it.
// Register access goes through the I/O-port guard like the module's own: only the window of the port
// under test, never the console's UART.
#pragma once

#include "host/Devices.h"
#include "host/RunRecord.h"
#include "os/Win32Types.h"

#include <cstdint>

namespace tarnhost {

class CPortRestore {
public:
    // Saves what the test of this ID may change on the device; with enabled false saves nothing and
    // says so.
    CPortRestore(const HostDevice& device, int testId, bool enabled);
    // Puts back what Finish has not: a run that leaves by an exception still leaves the port as found.
    ~CPortRestore();
    CPortRestore(const CPortRestore&) = delete;
    CPortRestore& operator=(const CPortRestore&) = delete;

    // Puts everything back; what was done, for the report.
    RestoreRecord Finish();

private:
    struct SRegisters {
        uint8_t lcr = 0, dll = 0, dlm = 0, ier = 0, iir = 0, mcr = 0, scr = 0;
    };
    void SaveRegisters(RestorePart& part);
    void RestoreRegisters(RestorePart& part);
    void SaveComPort(RestorePart& part);
    void RestoreComPort(RestorePart& part);
    // \\.\COMn opened as the module opens it; INVALID_HANDLE_VALUE with why set when it cannot be.
    HANDLE OpenPort(std::string* why);

    const HostDevice& m_Device;
    uint16_t m_Base = 0;
    unsigned m_ComNumber = 0;
    SRegisters m_Saved;
    DCB m_Dcb{};
    COMMTIMEOUTS m_Timeouts{};
    RestoreRecord m_Record;
    bool m_Finished = false;
};

} // namespace tarnhost
