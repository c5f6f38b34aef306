// The seam functions: each forwards to the installed backend (the real one of the platform, the simulator,
// or the call recorder in front of either).
#include "os/OsSeam.h"

#include "os/OsBackend.h"

#include <string>

namespace tarnos {
namespace {

IWin32Backend* g_win32 = nullptr;
IPortIoBackend* g_portIo = nullptr;

} // namespace

void SetBackends(IWin32Backend* win32, IPortIoBackend* portIo) {
    g_win32 = win32;
    g_portIo = portIo;
}

IWin32Backend& Win32Backend() {
    return g_win32 ? *g_win32 : RealWin32Backend();
}
IPortIoBackend& PortIoBackend() {
    return g_portIo ? *g_portIo : RealPortIoBackend();
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile) {
    return Win32Backend().CreateFileW(name, access, share, security, disposition, flags, templateFile);
}

BOOL CloseHandle(HANDLE handle) {
    return Win32Backend().CloseHandle(handle);
}

BOOL GetCommState(HANDLE handle, DCB* dcb) {
    return Win32Backend().GetCommState(handle, dcb);
}

BOOL SetCommState(HANDLE handle, DCB* dcb) {
    return Win32Backend().SetCommState(handle, dcb);
}

BOOL BuildCommDCBW(LPCWSTR definition, DCB* dcb) {
    return Win32Backend().BuildCommDCBW(definition, dcb);
}

BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
    return Win32Backend().SetupComm(handle, inQueue, outQueue);
}

BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    return Win32Backend().SetCommTimeouts(handle, timeouts);
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    return Win32Backend().ReadFile(handle, buffer, toRead, read, overlapped);
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
    return Win32Backend().WriteFile(handle, buffer, toWrite, written, overlapped);
}

BOOL GetCommModemStatus(HANDLE handle, LPDWORD status) {
    return Win32Backend().GetCommModemStatus(handle, status);
}

BOOL GetCommProperties(HANDLE handle, LPCOMMPROP properties) {
    return Win32Backend().GetCommProperties(handle, properties);
}

DWORD GetLastError() {
    return Win32Backend().GetLastError();
}

void Sleep(DWORD milliseconds) {
    Win32Backend().Sleep(milliseconds);
}

DWORD GetTickCount() {
    return Win32Backend().GetTickCount();
}

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    int length = RealWvsprintfW(buffer, format, args);
    va_end(args);
    return length;
}

} // namespace tarnos
