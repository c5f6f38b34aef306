// The Win32 calls of the platform seam on Windows: kernel32 itself, each call passed on unchanged.
// Only os/OsBackend.h is included, never os/Win32.h, whose macros would rename the calls below.
#include "os/OsBackend.h"

#include "os/backends/windows/SystemErrorText.h"

#include <timeapi.h>

namespace tarnos {
namespace {

class CKernel32Backend final : public IWin32Backend {
public:
    HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override {
        return ::CreateFileW(name, access, share, security, disposition, flags, templateFile);
    }
    BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
    BOOL GetCommState(HANDLE handle, DCB* dcb) override { return ::GetCommState(handle, dcb); }
    BOOL SetCommState(HANDLE handle, DCB* dcb) override { return ::SetCommState(handle, dcb); }
    BOOL BuildCommDCBW(LPCWSTR definition, DCB* dcb) override { return ::BuildCommDCBW(definition, dcb); }
    BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) override {
        return ::SetupComm(handle, inQueue, outQueue);
    }
    BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override {
        return ::SetCommTimeouts(handle, timeouts);
    }
    BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                  LPOVERLAPPED overlapped) override {
        return ::ReadFile(handle, buffer, toRead, read, overlapped);
    }
    BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                   LPOVERLAPPED overlapped) override {
        return ::WriteFile(handle, buffer, toWrite, written, overlapped);
    }
    BOOL GetCommModemStatus(HANDLE handle, LPDWORD status) override {
        return ::GetCommModemStatus(handle, status);
    }
    BOOL GetCommProperties(HANDLE handle, LPCOMMPROP properties) override {
        return ::GetCommProperties(handle, properties);
    }
    DWORD GetLastError() override { return ::GetLastError(); }
    void Sleep(DWORD milliseconds) override {
        // At Windows' default timer resolution (15.6 ms) a Sleep(10) of Part 5.3 lasts up to 15.6 ms. As
        // Microsoft documents it, a 1 ms resolution is asked just around the wait; since Windows 10 2004 it
        // touches no other process (docs/decisions.md, Windows).
        const bool finer = timeBeginPeriod(1) == TIMERR_NOERROR;
        ::Sleep(milliseconds);
        if (finer) {
            timeEndPeriod(1);
        }
    }
    DWORD GetTickCount() override { return ::GetTickCount(); }
    std::string SystemErrorText(DWORD code) override { return windows::SystemErrorText(code); }
};

} // namespace

IWin32Backend& RealWin32Backend() {
    static CKernel32Backend backend;
    return backend;
}

} // namespace tarnos
