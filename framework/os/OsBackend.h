// The platform seam: the one place where the module meets the operating system and the hardware.
// Backends (real Windows, real Linux, the simulator) implement these two interfaces; the host picks one
// of each at run time with tarnos::SetBackends. The module never sees them: it calls the Win32 functions
// and the kernel-mode services library under their own names, which forward here (os/OsSeam.h,
// os/TarnKernelModeServices.h).
#pragma once

#include "os/Win32Types.h"

#include <cstdarg>
#include <string>

namespace tarnos {

// The kernel32 calls the module makes, plus the text of a system error.
class IWin32Backend {
public:
    virtual ~IWin32Backend() = default;
    virtual HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile) = 0;
    virtual BOOL CloseHandle(HANDLE handle) = 0;
    virtual BOOL GetCommState(HANDLE handle, DCB* dcb) = 0;
    virtual BOOL SetCommState(HANDLE handle, DCB* dcb) = 0;
    virtual BOOL BuildCommDCBW(LPCWSTR definition, DCB* dcb) = 0;
    virtual BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) = 0;
    virtual BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) = 0;
    // Not the module's: the host reads a port's time-outs so as to put them back after a test.
    virtual BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) = 0;
    virtual BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                          LPOVERLAPPED overlapped) = 0;
    virtual BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                           LPOVERLAPPED overlapped) = 0;
    virtual BOOL GetCommModemStatus(HANDLE handle, LPDWORD status) = 0;
    virtual BOOL GetCommProperties(HANDLE handle, LPCOMMPROP properties) = 0;
    virtual DWORD GetLastError() = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
    virtual DWORD GetTickCount() = 0;
    // The system's message for an error code (FormatMessage on Windows, strerror on Linux).
    virtual std::string SystemErrorText(DWORD code) = 0;
};

// Byte-wide I/O port access, behind the kernel-mode services library.
class IPortIoBackend {
public:
    virtual ~IPortIoBackend() = default;
    virtual bool DriverOpen() = 0;
    // Return 0 on success, any other value on failure (a _TARNSRVC_RETCODE).
    virtual int ReadByte(unsigned short port, unsigned char* value) = 0;
    virtual int WriteByte(unsigned short port, unsigned char value) = 0;
};

// Installs the backends; null restores the platform's real ones. Returns nothing: the previous ones are
// owned by whoever installed them.
void SetBackends(IWin32Backend* win32, IPortIoBackend* portIo);
IWin32Backend& Win32Backend();
IPortIoBackend& PortIoBackend();

// The real backends of the platform this program was built for (os/linux/, os/windows/). The port-I/O one
// is the I/O-port guard in front of the platform's access (os/IoPortGuard.h): nothing passes until the
// host grants the window of the port under test.
IWin32Backend& RealWin32Backend();
// "linux" or "windows": the platform whose real backends these are.
const char* PlatformName();
IPortIoBackend& RealPortIoBackend();
// user32's wvsprintfW on Windows; elsewhere the same within the module's use: %i, %u and %%, at most
// 1024 characters. Formatting needs no backend of its own, so the simulator uses this one too.
int RealWvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args);

} // namespace tarnos
