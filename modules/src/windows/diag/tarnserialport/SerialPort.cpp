// The port object: its name and I/O base, UART register access through the kernel-mode services library,
// and the COM port through the Win32 serial calls with the fixed settings every test relies on.
#include "SerialPort.h"

#include "os/SettableRates.h"
#include "os/TarnKernelModeServices.h"

#include <cstdlib>

#include "os/Win32.h" // last: routes the Win32 calls below through the platform seam

namespace {

const char* const SOURCE_FILE = "SerialPort";

// The library checks this key on every call; it is the same at every call.
const unsigned long DRIVER_KEY = TarnKernelModeServices::TARNSRVC_KEY;

// Driver queues large enough for a 256-byte pattern and its echo, with room to spare.
const DWORD QUEUE_SIZE = 2048;
const DWORD DCB_SIZE = sizeof(DCB); // 28 bytes
// A write gives up after a second: long enough for 8 bytes at the slowest rate, short enough that a
// port whose transmitter is stuck does not hang the run.
const DWORD WRITE_TOTAL_TIMEOUT_MS = 1000;

const qen::String* g_PortNamePrefix = nullptr;

void ReleasePortNamePrefix() {
    delete g_PortNamePrefix;
    g_PortNamePrefix = nullptr;
}

} // namespace

void CreatePortNamePrefix() {
    g_PortNamePrefix = new qen::String("COM");
    std::atexit(ReleasePortNamePrefix);
}

// Neither argument is checked here: a port without I/O base is refused by each register-level test, and
// port 0xFFFF by Open. What cannot go on is a missing kernel-mode driver.
CSerialPort::CSerialPort(unsigned short portNumber, unsigned short ioBaseAddress)
    : m_PortName(), m_PortHandle(INVALID_HANDLE_VALUE), m_PortNumber(portNumber),
      m_IoBaseAddress(ioBaseAddress) {
    m_PortName.append(g_PortNamePrefix ? *g_PortNamePrefix : qen::String("COM"));
    m_PortName.append(qen::QENValue(portNumber).toString(qen::QENValue::nilValue));
    if (TarnKernelModeServices::TarnSrvcIO.DriverOpened(DRIVER_KEY) == 0) {
        throw qen::Exception(qen::String("TARN Driver not installed!"));
    }
}

CSerialPort::~CSerialPort() {
    if (m_PortHandle != INVALID_HANDLE_VALUE) {
        CloseHandle(m_PortHandle);
        m_PortHandle = INVALID_HANDLE_VALUE;
    }
}

unsigned short CSerialPort::GetIoBaseAddress() const {
    return m_IoBaseAddress;
}

const qen::String& CSerialPort::GetPortName() const {
    return m_PortName;
}

// The driver can go away between accesses (unloaded, or never loaded on this machine), so every access
// asks first. A read that cannot be done reads as 0x00: to the tests a UART that is not there and a port
// that cannot be reached look the same.
unsigned char CSerialPort::ReadRegister(unsigned short address) {
    unsigned char value = 0;
    if (TarnKernelModeServices::TarnSrvcIO.DriverOpened(DRIVER_KEY) == 0) {
        return 0;
    }
    if (TarnKernelModeServices::TarnSrvcIO.PortReadByte(address, &value) !=
        TarnKernelModeServices::TARNSRVC_SUCCESS) {
        return 0; // whatever the library stored
    }
    return value;
}

void CSerialPort::WriteRegister(unsigned short address, unsigned char value) {
    if (TarnKernelModeServices::TarnSrvcIO.DriverOpened(DRIVER_KEY) == 0) {
        return;
    }
    TarnKernelModeServices::TarnSrvcIO.PortWriteByte(address, value);
}

// A call on a closed port is a programming error, never a port fault: it stops the run with an assertion.
void CSerialPort::AssertHandle(int line) const {
    if (m_PortHandle == INVALID_HANDLE_VALUE) {
        throw qen::AssertionFailure(SOURCE_FILE, static_cast<size_t>(line),
                                    "m_PortHandle != INVALID_HANDLE_VALUE");
    }
}

// Exclusive, synchronous access: no other program may talk to the port while a test drives it.
bool CSerialPort::Open() {
    if (m_PortNumber == INVALID_PORT_NUMBER) {
        throw qen::AssertionFailure(SOURCE_FILE, __LINE__, "m_PortNumber != INVALID_PORT_NUMBER");
    }
    WCHAR deviceName[32];
    // The \\.\ prefix makes ports above COM9 openable.
    wsprintfW(deviceName, L"\\\\.\\COM%i", static_cast<int>(m_PortNumber));
    m_PortHandle =
        CreateFileW(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return m_PortHandle != INVALID_HANDLE_VALUE;
}

bool CSerialPort::Close() {
    if (m_PortHandle == INVALID_HANDLE_VALUE) {
        return true;
    }
    BOOL closed = CloseHandle(m_PortHandle);
    m_PortHandle = INVALID_HANDLE_VALUE;
    return closed != FALSE;
}

// Sets the rate with 8 data bits, no parity, 1 stop bit and no hardware flow control, so that a plug that
// bridges the control lines cannot hold the transmitter back. Stops at the first failing call; what was
// applied before it stays applied.
bool CSerialPort::Configure(unsigned rate, unsigned* previousRate) {
    AssertHandle(__LINE__);
    DCB dcb = {};
    dcb.DCBlength = DCB_SIZE;
    if (!GetCommState(m_PortHandle, &dcb)) {
        return false;
    }
    if (previousRate != nullptr) {
        *previousRate = dcb.BaudRate; // before anything changes, so the caller can put it back
    }
    if (!SetupComm(m_PortHandle, QUEUE_SIZE, QUEUE_SIZE)) {
        return false;
    }
    dcb.DCBlength = DCB_SIZE;
    WCHAR frame[64];
    wsprintfW(frame, L"baud=%u parity=N data=8 stop=1", rate);
    BuildCommDCBW(frame, &dcb); // a driver that rejects the text leaves the record as read: the old rate
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fNull = 0;
    if (!SetCommState(m_PortHandle, &dcb)) {
        return false;
    }
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD; // with zero totals: a read returns at once with what has arrived
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = WRITE_TOTAL_TIMEOUT_MS;
    return SetCommTimeouts(m_PortHandle, &timeouts) != FALSE;
}

bool CSerialPort::Read(void* buffer, DWORD count, DWORD* read) {
    AssertHandle(__LINE__);
    return ReadFile(m_PortHandle, buffer, count, read, nullptr) != FALSE;
}

bool CSerialPort::Write(const void* buffer, DWORD count, DWORD* written) {
    AssertHandle(__LINE__);
    return WriteFile(m_PortHandle, buffer, count, written, nullptr) != FALSE;
}

bool CSerialPort::GetState(DCB* dcb) {
    AssertHandle(__LINE__);
    dcb->DCBlength = DCB_SIZE;
    return GetCommState(m_PortHandle, dcb) != FALSE;
}

bool CSerialPort::SetState(DCB* dcb) {
    AssertHandle(__LINE__);
    return SetCommState(m_PortHandle, dcb) != FALSE;
}

bool CSerialPort::GetModemStatus(DWORD* status) {
    AssertHandle(__LINE__);
    return GetCommModemStatus(m_PortHandle, status) != FALSE;
}

bool CSerialPort::GetProperties(COMMPROP* properties) {
    AssertHandle(__LINE__);
    return GetCommProperties(m_PortHandle, properties) != FALSE;
}

// Only the twelve rates with a bit in COMMPROP's dwSettableBaud can be asked about; any other rate (110,
// 600, 256000, ...) is refused before the port is asked, so it needs no open port.
bool CSerialPort::IsBaudRateSupported(unsigned rate) {
    const DWORD bit = tarnos::SettableRateBit(rate);
    if (bit == 0) {
        return false;
    }
    AssertHandle(__LINE__);
    COMMPROP properties = {};
    properties.dwSettableBaud = 0; // a driver that cannot tell offers no rate
    GetCommProperties(m_PortHandle, &properties);
    return (properties.dwSettableBaud & bit) != 0;
}

bool CSerialPort::GetBaudRate(unsigned* rate) {
    AssertHandle(__LINE__);
    DCB dcb = {};
    dcb.DCBlength = DCB_SIZE;
    if (!GetCommState(m_PortHandle, &dcb)) {
        return false;
    }
    *rate = dcb.BaudRate;
    return true;
}
