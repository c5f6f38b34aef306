// The Win32 calls of the platform seam on Linux: COM ports through termios (ComPort.cpp, ComSettings.cpp,
// ComTimedIo.cpp), a thread-local last error in Win32 codes (Errors.cpp), real time (Clock.cpp), and
// user32's wvsprintfW.
#include "os/CommDcbText.h"
#include "os/OsBackend.h"
#include "os/linux/Internal.h"

#include <cstdint>
#include <cwchar>

namespace tarnos {
namespace {

// The port of a handle; sets ERROR_INVALID_HANDLE when there is none.
std::shared_ptr<CComPort> PortOf(HANDLE handle) {
    std::shared_ptr<CComPort> port = FindComPort(handle);
    if (!port) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
    }
    return port;
}

BOOL InvalidParameter() {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return FALSE;
}

class CLinuxWin32Backend final : public IWin32Backend {
public:
    HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD /*share*/, LPSECURITY_ATTRIBUTES /*security*/,
                       DWORD disposition, DWORD /*flags*/, HANDLE /*templateFile*/) override {
        // Share mode: a COM port is exclusive whatever is asked, as on Windows. Flags: no overlapped I/O
        // here; ReadFile and WriteFile refuse an OVERLAPPED record instead.
        return OpenComPort(name, access, disposition);
    }

    BOOL CloseHandle(HANDLE handle) override { return CloseComPort(handle); }

    BOOL GetCommState(HANDLE handle, DCB* dcb) override {
        std::shared_ptr<CComPort> port = PortOf(handle);
        if (!port) {
            return FALSE;
        }
        return dcb == nullptr ? InvalidParameter() : GetComState(*port, dcb);
    }

    BOOL SetCommState(HANDLE handle, DCB* dcb) override {
        std::shared_ptr<CComPort> port = PortOf(handle);
        if (!port) {
            return FALSE;
        }
        return dcb == nullptr ? InvalidParameter() : SetComState(*port, *dcb);
    }

    BOOL BuildCommDCBW(LPCWSTR definition, DCB* dcb) override {
        if (definition == nullptr || dcb == nullptr || !ParseCommDcbText(definition, dcb)) {
            return InvalidParameter(); // the DCB is left as it was
        }
        return TRUE;
    }

    BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) override {
        // The kernel's tty buffers have fixed sizes: the sizes are only kept for GetCommProperties.
        std::shared_ptr<CComPort> port = PortOf(handle);
        if (!port) {
            return FALSE;
        }
        std::lock_guard<std::mutex> lock(port->m_Lock);
        port->m_InQueue = inQueue;
        port->m_OutQueue = outQueue;
        return TRUE;
    }

    BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override {
        std::shared_ptr<CComPort> port = PortOf(handle);
        if (!port) {
            return FALSE;
        }
        // Windows' serial driver refuses the one combination with no meaning: all three reads MAXDWORD.
        if (timeouts == nullptr ||
            (timeouts->ReadIntervalTimeout == MAXDWORD && timeouts->ReadTotalTimeoutMultiplier == MAXDWORD &&
             timeouts->ReadTotalTimeoutConstant == MAXDWORD)) {
            return InvalidParameter();
        }
        std::lock_guard<std::mutex> lock(port->m_Lock);
        port->m_Timeouts = *timeouts;
        return TRUE;
    }

    BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override {
        std::shared_ptr<CComPort> port = PortOf(handle);
        if (!port) {
            return FALSE;
        }
        if (timeouts == nullptr) {
            return InvalidParameter();
        }
        *timeouts = Timeouts(*port);
        return TRUE;
    }

    BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                  LPOVERLAPPED overlapped) override {
        return Transfer(handle, buffer == nullptr && toRead != 0, read, overlapped,
                        [&](CComPort& port, DWORD* done) {
                            return TimedRead(port.m_Fd, static_cast<unsigned char*>(buffer), toRead,
                                             Timeouts(port), done);
                        });
    }

    BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                   LPOVERLAPPED overlapped) override {
        return Transfer(handle, buffer == nullptr && toWrite != 0, written, overlapped,
                        [&](CComPort& port, DWORD* done) {
                            return TimedWrite(port.m_Fd, static_cast<const unsigned char*>(buffer), toWrite,
                                              Timeouts(port), done);
                        });
    }

    BOOL GetCommModemStatus(HANDLE handle, LPDWORD status) override {
        std::shared_ptr<CComPort> port = PortOf(handle);
        if (!port) {
            return FALSE;
        }
        return status == nullptr ? InvalidParameter() : GetComModemStatus(*port, status);
    }

    BOOL GetCommProperties(HANDLE handle, LPCOMMPROP properties) override {
        std::shared_ptr<CComPort> port = PortOf(handle);
        if (!port) {
            return FALSE;
        }
        if (properties == nullptr) {
            return InvalidParameter();
        }
        std::lock_guard<std::mutex> lock(port->m_Lock);
        FillCommProperties(port->m_InQueue, port->m_OutQueue, properties);
        return TRUE;
    }

    DWORD GetLastError() override { return LastErrorCode(); }

    void Sleep(DWORD milliseconds) override { SleepMilliseconds(milliseconds); }

    DWORD GetTickCount() override { return static_cast<DWORD>(MonotonicMilliseconds() & 0xFFFFFFFFu); }

    std::string SystemErrorText(DWORD code) override { return ErrorText(code); }

private:
    static COMMTIMEOUTS Timeouts(CComPort& port) {
        std::lock_guard<std::mutex> lock(port.m_Lock);
        return port.m_Timeouts;
    }

    // ReadFile and WriteFile alike: the count is 0 until bytes move; move(port, &done) returns 0 or an
    // errno. A time-out is a success with the count moved so far, as Windows' STATUS_TIMEOUT is.
    template <typename Move>
    static BOOL Transfer(HANDLE handle, bool noBuffer, LPDWORD counted, LPOVERLAPPED overlapped, Move move) {
        if (counted != nullptr) {
            *counted = 0;
        }
        std::shared_ptr<CComPort> port = PortOf(handle);
        if (!port) {
            return FALSE;
        }
        if (overlapped != nullptr || noBuffer) {
            return InvalidParameter();
        }
        DWORD done = 0;
        int error = move(*port, &done);
        if (counted != nullptr) {
            *counted = done;
        }
        if (error != 0) {
            SetLastErrorFromErrno(error);
            return FALSE;
        }
        return TRUE;
    }
};

} // namespace

const char* PlatformName() {
    return "linux";
}

IWin32Backend& RealWin32Backend() {
    static CLinuxWin32Backend backend;
    return backend;
}

int RealWvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args) {
    // At most 1024 characters, as user32 writes. A text that does not fit gives an empty text and 0.
    int n = std::vswprintf(buffer, 1024, format, args);
    if (n < 0) {
        n = 0;
        buffer[0] = L'\0';
    }
    return n;
}

} // namespace tarnos
