// The Win32 calls of the platform seam on Windows: kernel32 and user32 themselves, each call passed on
// unchanged. Never os/Win32.h here: its macros would rename the calls below.
#include "os/OsBackend.h"

#include <timeapi.h>

namespace tarnos {
namespace {

// FormatMessageW of the code in the user's language, as UTF-8 (the JSON report needs valid UTF-8 whatever
// the ANSI code page), without the trailing CR/LF. "Unknown error <code>." when the system has no text.
std::string SystemMessageText(DWORD code) {
    LPWSTR wide = nullptr;
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                        FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, code, 0, reinterpret_cast<LPWSTR>(&wide), 0, nullptr);
    if (length == 0 || wide == nullptr) {
        return "Unknown error " + std::to_string(code) + ".";
    }
    // The system's texts end in CR/LF (some in a blank too).
    while (length > 0 &&
           (wide[length - 1] == L'\r' || wide[length - 1] == L'\n' || wide[length - 1] == L' ')) {
        --length;
    }
    std::string text;
    int bytes =
        ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (bytes > 0) {
        text.resize(static_cast<size_t>(bytes));
        ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), &text[0], bytes, nullptr, nullptr);
    }
    ::LocalFree(wide);
    return text;
}

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
    BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override {
        return ::GetCommTimeouts(handle, timeouts);
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
        // At Windows' default timer resolution (15.6 ms) the send and receive test's Sleep(10) lasts up to
        // 15.6 ms. As Microsoft documents it, a 1 ms resolution is asked just around the wait; since
        // Windows 10 2004 it touches no other process (docs/decisions.md, Windows).
        const bool finer = timeBeginPeriod(1) == TIMERR_NOERROR;
        ::Sleep(milliseconds);
        if (finer) {
            timeEndPeriod(1);
        }
    }
    DWORD GetTickCount() override { return ::GetTickCount(); }
    std::string SystemErrorText(DWORD code) override { return SystemMessageText(code); }
};

} // namespace

const char* PlatformName() {
    return "windows";
}

IWin32Backend& RealWin32Backend() {
    static CKernel32Backend backend;
    return backend;
}

int RealWvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args) {
    return ::wvsprintfW(buffer, format, args);
}

} // namespace tarnos
