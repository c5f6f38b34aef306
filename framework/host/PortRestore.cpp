#include "host/PortRestore.h"

#include "host/TestTable.h"
#include "os/IoWindow.h"
#include "os/NamedLog.h"
#include "os/OsBackend.h"
#include "uart/SerialReg.h"

#include <string>

namespace tarnhost {
namespace {

// The tests that drive the UART's registers, and those that set the COM port through the OS (the send
// and receive test does both: it asks the driver which rates it can set, and puts the driver's rate back).
bool ChangesRegisters(int testId) {
    return testId >= CONTROL_SIGNALS_TEST_ID && testId <= SEND_AND_RECEIVE_TEST_ID;
}
bool ChangesComPort(int testId) {
    return testId >= SEND_AND_RECEIVE_TEST_ID && testId <= EXTERNAL_REGISTER_TEST_ID;
}

const uint8_t FLOATING_BUS = 0xFF; // what every register reads where no UART answers
const int FIFO_NOTE_PRIORITY = 3;  // shown at the default --log-priority: the port is left changed

void LogFifoNote(const std::string& text) {
    static tarnos::CNamedLog log("PortRestore");
    log.Line(FIFO_NOTE_PRIORITY, text);
}

// Byte access to one UART's registers that stops at the first access the seam refuses (the guard, a
// driver gone) and says which.
class CUartAccess {
public:
    explicit CUartAccess(uint16_t base) : m_Io(tarnos::PortIoBackend()), m_Base(base) {}
    uint8_t In(unsigned offset) {
        unsigned char value = 0;
        if (m_Failed.empty() && m_Io.ReadByte(Port(offset), &value) != 0) {
            m_Failed = "I/O port " + tarnos::PortText(Port(offset)) + " could not be read";
        }
        return value;
    }
    void Out(unsigned offset, uint8_t value) {
        if (m_Failed.empty() && m_Io.WriteByte(Port(offset), value) != 0) {
            m_Failed = "I/O port " + tarnos::PortText(Port(offset)) + " could not be written";
        }
    }
    const std::string& Failed() const { return m_Failed; }

private:
    uint16_t Port(unsigned offset) const { return static_cast<uint16_t>(m_Base + offset); }
    tarnos::IPortIoBackend& m_Io;
    uint16_t m_Base;
    std::string m_Failed;
};

uint8_t WithDlab(uint8_t lcr) {
    return static_cast<uint8_t>(lcr | UART_LCR_DLAB);
}
uint8_t WithoutDlab(uint8_t lcr) {
    return static_cast<uint8_t>(lcr & ~UART_LCR_DLAB);
}

} // namespace

CPortRestore::CPortRestore(const HostDevice& device, int testId, bool enabled) : m_Device(device) {
    if (const kivu5::DeviceProperty* com = device.device.property("ComPortNumber")) {
        m_ComNumber = com->value().valueUint32();
    }
    const kivu5::DeviceProperty* io = device.device.property("IoBaseAddresses");
    const bool hasBase = io != nullptr && io->value().Uint32ArraySize() > 0;
    if (hasBase) {
        m_Base = static_cast<uint16_t>(io->value().getUint32InArray(0)); // the module's own low 16 bits
    }
    RestorePart off;
    off.why = "--no-restore";
    if (ChangesRegisters(testId)) {
        m_Record.registers = off;
        if (enabled && !hasBase) {
            m_Record.registers->why = "no I/O base";
        } else if (enabled) {
            SaveRegisters(*m_Record.registers);
        }
    }
    if (ChangesComPort(testId)) {
        m_Record.comPort = off;
        if (enabled) {
            SaveComPort(*m_Record.comPort);
        }
    }
}

CPortRestore::~CPortRestore() {
    Finish();
}

RestoreRecord CPortRestore::Finish() {
    if (!m_Finished) {
        m_Finished = true;
        if (m_Record.comPort && m_Record.comPort->saved) {
            RestoreComPort(*m_Record.comPort);
        }
        if (m_Record.registers && m_Record.registers->saved) {
            RestoreRegisters(*m_Record.registers);
        }
    }
    return m_Record;
}

void CPortRestore::SaveRegisters(RestorePart& part) {
    if (!tarnos::PortIoBackend().DriverOpen()) {
        part.why = "the port driver is not open";
        return;
    }
    CUartAccess uart(m_Base);
    SRegisters& saved = m_Saved;
    saved.lcr = uart.In(UART_LCR);
    if (uart.Failed().empty()) {
        // The divisor latch shares its offsets with RBR/THR and IER: DLAB selects it. LCR goes back at once.
        uart.Out(UART_LCR, WithDlab(saved.lcr));
        saved.dll = uart.In(UART_DLL);
        saved.dlm = uart.In(UART_DLM);
        uart.Out(UART_LCR, WithoutDlab(saved.lcr));
        saved.ier = uart.In(UART_IER);
        saved.iir = uart.In(UART_IIR);
        if (!uart.Failed().empty() || WithoutDlab(saved.lcr) != saved.lcr) {
            // DLAB as found, even after a refused access: the line control must not stay changed.
            tarnos::PortIoBackend().WriteByte(static_cast<uint16_t>(m_Base + UART_LCR), saved.lcr);
        }
        saved.mcr = uart.In(UART_MCR);
        saved.scr = uart.In(UART_SCR);
    }
    if (!uart.Failed().empty()) {
        part.why = uart.Failed();
        return;
    }
    const uint8_t all = saved.lcr & saved.dll & saved.dlm & saved.ier & saved.iir & saved.mcr & saved.scr;
    if (all == FLOATING_BUS) {
        part.why = "no UART answers at " + tarnos::PortText(m_Base); // nothing there to change
        return;
    }
    part.saved = true;
}

void CPortRestore::RestoreRegisters(RestorePart& part) {
    if (!tarnos::PortIoBackend().DriverOpen()) {
        part.why = "the port driver is not open any more";
        return;
    }
    const SRegisters& saved = m_Saved;
    CUartAccess uart(m_Base);
    uart.Out(UART_LCR, WithDlab(saved.lcr));
    uart.Out(UART_DLL, saved.dll);
    uart.Out(UART_DLM, saved.dlm);
    uart.Out(UART_LCR, WithoutDlab(saved.lcr));
    uart.Out(UART_IER, saved.ier);
    part.values = {{"ier", saved.ier}, {"lcr", saved.lcr}, {"dll", saved.dll},
                   {"dlm", saved.dlm}, {"mcr", saved.mcr}, {"scr", saved.scr}};
    // FCR cannot be read back; IIR tells whether the FIFOs were on, not their trigger level.
    if ((saved.iir & UART_IIR_FIFO_ENABLED) == 0) {
        uart.Out(UART_FCR, UART_FCR_OFF);
        part.values.emplace_back("fcr", UART_FCR_OFF);
    } else if (m_Device.fifoControl) {
        uart.Out(UART_FCR, *m_Device.fifoControl);
        part.values.emplace_back("fcr", *m_Device.fifoControl);
    } else {
        LogFifoNote(m_Device.device.name() + ": FCR left as the test left it: the FIFOs were on, and " +
                    m_Device.fifoSource);
    }
    if (WithoutDlab(saved.lcr) != saved.lcr) {
        uart.Out(UART_LCR, saved.lcr); // found with DLAB set: so it is left
    }
    uart.Out(UART_MCR, saved.mcr);
    uart.Out(UART_SCR, saved.scr);
    part.restored = uart.Failed().empty();
    part.why = uart.Failed();
    if (!part.restored) {
        part.values.clear();
    }
}

HANDLE CPortRestore::OpenPort(std::string* why) {
    tarnos::IWin32Backend& os = tarnos::Win32Backend();
    const std::wstring name = L"\\\\.\\COM" + std::to_wstring(m_ComNumber);
    HANDLE handle =
        os.CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *why = "COM" + std::to_string(m_ComNumber) +
               " could not be opened: " + os.SystemErrorText(os.GetLastError());
    }
    return handle;
}

void CPortRestore::SaveComPort(RestorePart& part) {
    if (m_ComNumber == 0) {
        part.why = "no COM port number";
        return;
    }
    tarnos::IWin32Backend& os = tarnos::Win32Backend();
    HANDLE handle = OpenPort(&part.why);
    if (handle == INVALID_HANDLE_VALUE) {
        return;
    }
    m_Dcb.DCBlength = sizeof(DCB);
    if (!os.GetCommState(handle, &m_Dcb) || !os.GetCommTimeouts(handle, &m_Timeouts)) {
        part.why = "its settings could not be read: " + os.SystemErrorText(os.GetLastError());
    } else {
        part.saved = true;
    }
    os.CloseHandle(handle);
}

void CPortRestore::RestoreComPort(RestorePart& part) {
    tarnos::IWin32Backend& os = tarnos::Win32Backend();
    HANDLE handle = OpenPort(&part.why);
    if (handle == INVALID_HANDLE_VALUE) {
        return;
    }
    if (!os.SetCommState(handle, &m_Dcb) || !os.SetCommTimeouts(handle, &m_Timeouts)) {
        part.why = "its settings could not be written: " + os.SystemErrorText(os.GetLastError());
    } else {
        part.restored = true;
        part.values = {{"baud", m_Dcb.BaudRate},
                       {"byteSize", m_Dcb.ByteSize},
                       {"parityScheme", m_Dcb.Parity},
                       {"stopBits", m_Dcb.StopBits},
                       {"readInterval", m_Timeouts.ReadIntervalTimeout},
                       {"writeTotalConstant", m_Timeouts.WriteTotalTimeoutConstant}};
    }
    os.CloseHandle(handle);
}

} // namespace tarnhost
