// The seam functions: each forwards to the installed backend and, while the call trace is on, records
// itself with its arguments and result as text.
#include "os/OsSeam.h"

#include "os/CallTrace.h"
#include "os/OsBackend.h"

#include <string>

namespace tarnos {
namespace {

IWin32Backend* g_win32 = nullptr;
IPortIoBackend* g_portIo = nullptr;

std::string BoolText(BOOL value) {
    return value ? "TRUE" : "FALSE";
}
std::string DecimalText(DWORD value) {
    return std::to_string(value);
}
std::string HandleText(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? "INVALID_HANDLE_VALUE"
                                          : HexText(reinterpret_cast<uintptr_t>(handle));
}
// Only whether a pointer was given: its value differs from run to run.
std::string PointerText(const void* pointer) {
    return pointer ? "ptr" : "NULL";
}
std::string WideText(LPCWSTR text) {
    return "L\"" + AsciiText(text) + "\"";
}

// Asked before an entry is built, so that no text is made for nothing.
bool Tracing(const char* call) {
    return CallTrace::Instance().Wants(call);
}

void Record(const char* call, std::vector<std::string> args, std::string result) {
    CallTrace::Instance().Add(TraceEntry{call, std::move(args), std::move(result)});
}

std::string DcbText(const DCB* dcb) {
    if (dcb == nullptr) {
        return "NULL";
    }
    return "{len=" + DecimalText(dcb->DCBlength) + " baud=" + DecimalText(dcb->BaudRate) +
           " bits=" + DecimalText(dcb->ByteSize) + " parity=" + DecimalText(dcb->Parity) +
           " stop=" + DecimalText(dcb->StopBits) + " cts=" + DecimalText(dcb->fOutxCtsFlow) +
           " dsr=" + DecimalText(dcb->fOutxDsrFlow) + " null=" + DecimalText(dcb->fNull) +
           " dtr=" + DecimalText(dcb->fDtrControl) + " rts=" + DecimalText(dcb->fRtsControl) + "}";
}

// A DCB as the caller hands it in to be filled: only its length counts.
std::string DcbLengthText(const DCB* dcb) {
    return dcb ? "{len=" + DecimalText(dcb->DCBlength) + "}" : "NULL";
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
    HANDLE handle =
        Win32Backend().CreateFileW(name, access, share, security, disposition, flags, templateFile);
    if (Tracing("CreateFileW"))
        Record("CreateFileW",
               {WideText(name), HexText(access), DecimalText(share), PointerText(security),
                DecimalText(disposition), DecimalText(flags), PointerText(templateFile)},
               HandleText(handle));
    return handle;
}

BOOL CloseHandle(HANDLE handle) {
    BOOL ok = Win32Backend().CloseHandle(handle);
    if (Tracing("CloseHandle"))
        Record("CloseHandle", {HandleText(handle)}, BoolText(ok));
    return ok;
}

BOOL GetCommState(HANDLE handle, DCB* dcb) {
    std::string in = Tracing("GetCommState") ? DcbLengthText(dcb) : "";
    BOOL ok = Win32Backend().GetCommState(handle, dcb);
    if (Tracing("GetCommState"))
        Record("GetCommState", {HandleText(handle), in}, BoolText(ok) + (ok ? " " + DcbText(dcb) : ""));
    return ok;
}

BOOL SetCommState(HANDLE handle, DCB* dcb) {
    std::string in = Tracing("SetCommState") ? DcbText(dcb) : "";
    BOOL ok = Win32Backend().SetCommState(handle, dcb);
    if (Tracing("SetCommState"))
        Record("SetCommState", {HandleText(handle), in}, BoolText(ok));
    return ok;
}

BOOL BuildCommDCBW(LPCWSTR definition, DCB* dcb) {
    BOOL ok = Win32Backend().BuildCommDCBW(definition, dcb);
    if (Tracing("BuildCommDCBW"))
        Record("BuildCommDCBW", {WideText(definition), DcbLengthText(dcb)}, BoolText(ok));
    return ok;
}

BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
    BOOL ok = Win32Backend().SetupComm(handle, inQueue, outQueue);
    if (Tracing("SetupComm"))
        Record("SetupComm", {HandleText(handle), DecimalText(inQueue), DecimalText(outQueue)}, BoolText(ok));
    return ok;
}

BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    std::string in = timeouts ? "{" + HexText(timeouts->ReadIntervalTimeout) + ", " +
                                    DecimalText(timeouts->ReadTotalTimeoutMultiplier) + ", " +
                                    DecimalText(timeouts->ReadTotalTimeoutConstant) + ", " +
                                    DecimalText(timeouts->WriteTotalTimeoutMultiplier) + ", " +
                                    DecimalText(timeouts->WriteTotalTimeoutConstant) + "}"
                              : "NULL";
    BOOL ok = Win32Backend().SetCommTimeouts(handle, timeouts);
    if (Tracing("SetCommTimeouts"))
        Record("SetCommTimeouts", {HandleText(handle), in}, BoolText(ok));
    return ok;
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    BOOL ok = Win32Backend().ReadFile(handle, buffer, toRead, read, overlapped);
    if (Tracing("ReadFile"))
        Record("ReadFile",
               {HandleText(handle), PointerText(buffer), DecimalText(toRead), PointerText(read),
                PointerText(overlapped)},
               BoolText(ok) + (read ? " read=" + DecimalText(*read) : ""));
    return ok;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
    BOOL ok = Win32Backend().WriteFile(handle, buffer, toWrite, written, overlapped);
    if (Tracing("WriteFile"))
        Record("WriteFile",
               {HandleText(handle), PointerText(buffer), DecimalText(toWrite), PointerText(written),
                PointerText(overlapped)},
               BoolText(ok) + (written ? " written=" + DecimalText(*written) : ""));
    return ok;
}

BOOL GetCommModemStatus(HANDLE handle, LPDWORD status) {
    BOOL ok = Win32Backend().GetCommModemStatus(handle, status);
    if (Tracing("GetCommModemStatus"))
        Record("GetCommModemStatus", {HandleText(handle), PointerText(status)},
               BoolText(ok) + (status ? " " + HexText(*status) : ""));
    return ok;
}

BOOL GetCommProperties(HANDLE handle, LPCOMMPROP properties) {
    BOOL ok = Win32Backend().GetCommProperties(handle, properties);
    if (Tracing("GetCommProperties"))
        Record("GetCommProperties", {HandleText(handle), PointerText(properties)},
               BoolText(ok) + (properties ? " subtype=" + DecimalText(properties->dwProvSubType) +
                                                " settable=" + HexText(properties->dwSettableBaud)
                                          : ""));
    return ok;
}

DWORD GetLastError() {
    DWORD code = Win32Backend().GetLastError();
    if (Tracing("GetLastError"))
        Record("GetLastError", {}, DecimalText(code));
    return code;
}

void Sleep(DWORD milliseconds) {
    Win32Backend().Sleep(milliseconds);
    if (Tracing("Sleep"))
        Record("Sleep", {DecimalText(milliseconds)}, "");
}

DWORD GetTickCount() {
    // Not traced: the send and receive test polls the clock thousands of times; its waits show in Sleep.
    return Win32Backend().GetTickCount();
}

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    int length = RealWvsprintfW(buffer, format, args);
    va_end(args);
    if (Tracing("wsprintfW"))
        Record("wsprintfW", {WideText(format)}, WideText(buffer));
    return length;
}

} // namespace tarnos
