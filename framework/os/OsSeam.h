// The seam functions: the Win32 calls the module makes, under their own names in namespace tarnos. Each
// forwards to the backend installed with tarnos::SetBackends (os/OsBackend.h). The module reaches them
// through the macros of os/Win32.h.
#pragma once

#include "os/Win32Types.h"

namespace tarnos {

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);
BOOL GetCommState(HANDLE handle, DCB* dcb);
BOOL SetCommState(HANDLE handle, DCB* dcb);
BOOL BuildCommDCBW(LPCWSTR definition, DCB* dcb);
BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue);
BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts);
BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
BOOL GetCommModemStatus(HANDLE handle, LPDWORD status);
BOOL GetCommProperties(HANDLE handle, LPCOMMPROP properties);
DWORD GetLastError();
void Sleep(DWORD milliseconds);
DWORD GetTickCount();
// user32's wsprintfW, on every platform through RealWvsprintfW (os/OsBackend.h).
int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);

} // namespace tarnos
