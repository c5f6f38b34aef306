#include "os/OsSeam.h"

#include "os/CallTrace.h"
#include "os/OsBackend.h"

#include <string>

namespace tarnos {
namespace {

IWin32Backend* g_win32 = nullptr;
IPortIoBackend* g_portIo = nullptr;

std::string B(BOOL value) {
    return value ? "TRUE" : "FALSE";
}
std::string D(DWORD value) {
    return std::to_string(value);
}
std::string H(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? "INVALID_HANDLE_VALUE" : Hex(reinterpret_cast<uintptr_t>(handle));
}
std::string P(const void* pointer) {
    return pointer ? "ptr" : "NULL";
}

bool Wants(const char* call) {
    return CallTrace::Instance().Wants(call);
}

void Record(const char* call, std::vector<std::string> args, std::string result) {
    CallTrace::Instance().Add(TraceEntry{call, std::move(args), std::move(result)});
}

std::string DcbText(const DCB* dcb) {
    if (dcb == nullptr) {
        return "NULL";
    }
    return "{len=" + D(dcb->DCBlength) + " baud=" + D(dcb->BaudRate) + " bits=" + D(dcb->ByteSize) +
           " parity=" + D(dcb->Parity) + " stop=" + D(dcb->StopBits) + " cts=" + D(dcb->fOutxCtsFlow) +
           " dsr=" + D(dcb->fOutxDsrFlow) + " null=" + D(dcb->fNull) + " dtr=" + D(dcb->fDtrControl) +
           " rts=" + D(dcb->fRtsControl) + "}";
}

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
    HANDLE h = Win32Backend().CreateFileW(name, access, share, security, disposition, flags, templateFile);
    if (Wants("CreateFileW"))
        Record("CreateFileW",
               {"L\"" + Narrow(name) + "\"", Hex(access), D(share), P(security), D(disposition), D(flags),
                P(templateFile)},
               H(h));
    return h;
}

BOOL CloseHandle(HANDLE handle) {
    BOOL ok = Win32Backend().CloseHandle(handle);
    if (Wants("CloseHandle"))
        Record("CloseHandle", {H(handle)}, B(ok));
    return ok;
}

BOOL GetCommState(HANDLE handle, DCB* dcb) {
    std::string in = Wants("GetCommState") && dcb ? "{len=" + D(dcb->DCBlength) + "}" : "NULL";
    BOOL ok = Win32Backend().GetCommState(handle, dcb);
    if (Wants("GetCommState"))
        Record("GetCommState", {H(handle), in}, B(ok) + (ok ? " " + DcbText(dcb) : ""));
    return ok;
}

BOOL SetCommState(HANDLE handle, DCB* dcb) {
    std::string in = Wants("SetCommState") ? DcbText(dcb) : "";
    BOOL ok = Win32Backend().SetCommState(handle, dcb);
    if (Wants("SetCommState"))
        Record("SetCommState", {H(handle), in}, B(ok));
    return ok;
}

BOOL BuildCommDCBW(LPCWSTR definition, DCB* dcb) {
    BOOL ok = Win32Backend().BuildCommDCBW(definition, dcb);
    if (Wants("BuildCommDCBW"))
        Record("BuildCommDCBW",
               {"L\"" + Narrow(definition) + "\"", dcb ? "{len=" + D(dcb->DCBlength) + "}" : "NULL"}, B(ok));
    return ok;
}

BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
    BOOL ok = Win32Backend().SetupComm(handle, inQueue, outQueue);
    if (Wants("SetupComm"))
        Record("SetupComm", {H(handle), D(inQueue), D(outQueue)}, B(ok));
    return ok;
}

BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    std::string in = timeouts ? "{" + Hex(timeouts->ReadIntervalTimeout) + ", " +
                                    D(timeouts->ReadTotalTimeoutMultiplier) + ", " +
                                    D(timeouts->ReadTotalTimeoutConstant) + ", " +
                                    D(timeouts->WriteTotalTimeoutMultiplier) + ", " +
                                    D(timeouts->WriteTotalTimeoutConstant) + "}"
                              : "NULL";
    BOOL ok = Win32Backend().SetCommTimeouts(handle, timeouts);
    if (Wants("SetCommTimeouts"))
        Record("SetCommTimeouts", {H(handle), in}, B(ok));
    return ok;
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    BOOL ok = Win32Backend().ReadFile(handle, buffer, toRead, read, overlapped);
    if (Wants("ReadFile"))
        Record("ReadFile", {H(handle), P(buffer), D(toRead), P(read), P(overlapped)},
               B(ok) + (read ? " read=" + D(*read) : ""));
    return ok;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
    BOOL ok = Win32Backend().WriteFile(handle, buffer, toWrite, written, overlapped);
    if (Wants("WriteFile"))
        Record("WriteFile", {H(handle), P(buffer), D(toWrite), P(written), P(overlapped)},
               B(ok) + (written ? " written=" + D(*written) : ""));
    return ok;
}

BOOL GetCommModemStatus(HANDLE handle, LPDWORD status) {
    BOOL ok = Win32Backend().GetCommModemStatus(handle, status);
    if (Wants("GetCommModemStatus"))
        Record("GetCommModemStatus", {H(handle), P(status)}, B(ok) + (status ? " " + Hex(*status) : ""));
    return ok;
}

BOOL GetCommProperties(HANDLE handle, LPCOMMPROP properties) {
    BOOL ok = Win32Backend().GetCommProperties(handle, properties);
    if (Wants("GetCommProperties"))
        Record("GetCommProperties", {H(handle), P(properties)},
               B(ok) + (properties ? " subtype=" + D(properties->dwProvSubType) +
                                         " settable=" + Hex(properties->dwSettableBaud)
                                   : ""));
    return ok;
}

DWORD GetLastError() {
    DWORD code = Win32Backend().GetLastError();
    if (Wants("GetLastError"))
        Record("GetLastError", {}, D(code));
    return code;
}

void Sleep(DWORD milliseconds) {
    Win32Backend().Sleep(milliseconds);
    if (Wants("Sleep"))
        Record("Sleep", {D(milliseconds)}, "");
}

DWORD GetTickCount() {
    // Not traced: the busy polls of Part 5.3 call it thousands of times; the clock shows in Sleep.
    return Win32Backend().GetTickCount();
}

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = RealWvsprintfW(buffer, format, args);
    va_end(args);
    if (Wants("wsprintfW"))
        Record("wsprintfW", {"L\"" + Narrow(format) + "\""}, "L\"" + Narrow(buffer) + "\"");
    return n;
}

} // namespace tarnos
