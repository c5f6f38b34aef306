// CSerialPort: the port under test, reached two ways: its UART's eight I/O registers (through the
// kernel-mode services library) and the operating system's COM-port driver (the Win32 serial calls).
#pragma once

#include "qen/qen.h"

#include "os/Win32Types.h"

// A port number no COM port has, and the I/O base of a device that reported none (-99 in 16 bits).
const unsigned short INVALID_PORT_NUMBER = 0xFFFF;
const unsigned short NO_IO_BASE_ADDRESS = 0xFF9D;

class CSerialPort {
public:
    CSerialPort(unsigned short portNumber, unsigned short ioBaseAddress);
    virtual ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Identity and byte-wide UART register access at absolute I/O port addresses.
    unsigned short GetIoBaseAddress() const;
    const qen::String& GetPortName() const;
    unsigned char ReadRegister(unsigned short address);
    void WriteRegister(unsigned short address, unsigned char value);

    // The COM port through the operating system's driver.
    bool Open();
    bool Close();
    bool Configure(unsigned rate, unsigned* previousRate);
    bool Read(void* buffer, DWORD count, DWORD* read);
    bool Write(const void* buffer, DWORD count, DWORD* written);
    bool GetState(DCB* dcb);
    bool SetState(DCB* dcb);
    bool GetModemStatus(DWORD* status);
    bool GetProperties(COMMPROP* properties);
    bool IsBaudRateSupported(unsigned rate);
    bool GetBaudRate(unsigned* rate);

private:
    void AssertHandle(int line) const;

    qen::String m_PortName;
    HANDLE m_PortHandle;
    unsigned short m_PortNumber;
    unsigned short m_IoBaseAddress;
};

// Creates the "COM" text that port names start with; it is released when the process exits.
void CreatePortNamePrefix();
