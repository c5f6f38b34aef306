// CSerialPort: the port object of one test run (Part 4.1) and its operating-system side (Part 4.2).
#pragma once

#include "qen/qen.h"

#include "os/Win32.h"

// Part 4.1: the port number that no port has, and the I/O base of a device that gave none (-99 in 16 bits).
const unsigned short INVALID_PORT_NUMBER = 0xFFFF;
const unsigned short NO_IO_BASE_ADDRESS = 0xFF9D;

class CSerialPort {
public:
    CSerialPort(unsigned short portNumber, unsigned short ioBaseAddress);
    virtual ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Part 4.1: identity and UART register access.
    unsigned short GetIoBaseAddress() const;
    const qen::String& GetPortName() const;
    unsigned char ReadRegister(unsigned short address);
    void WriteRegister(unsigned short address, unsigned char value);

    // Part 4.2: the COM port through the operating system.
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

// Static initialisation, step 8 of Part 2.1: the string constant "COM", released at process exit.
void CreatePortNamePrefix();
