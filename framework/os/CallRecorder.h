// The call recorder: stands in front of the backends and writes every call that crosses the platform seam,
// with its arguments and results, as one JSON object per line: what the module asked of the operating
// system and the hardware, and every answer it got. A support engineer reads it to see what a port did; a
// replay answers a run from it. The format is in docs/recording.md.
//
// Busy polls repeat the same few calls thousands of times (the send and receive test reads the line status
// back to back), so a block of up to four lines that repeats is written once more as
// {"repeat": N, "of": K}: the K lines before it occur N more times. The lines' text is os/CallLines.h's.
#pragma once

#include "os/CallLines.h"
#include "os/OsBackend.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tarnos {

class CCallRecorder final : public IWin32Backend, public IPortIoBackend {
public:
    // Forwards every call to win32 and portIo and writes it to out (not owned), after the header line.
    CCallRecorder(IWin32Backend& win32, IPortIoBackend& portIo, std::FILE* out, const std::string& header);
    ~CCallRecorder() override;
    CCallRecorder(const CCallRecorder&) = delete;
    CCallRecorder& operator=(const CCallRecorder&) = delete;

    // Writes a pending repeat line and flushes. Lines are flushed as they are written, so a program that
    // ends abruptly leaves a file that is whole up to its last call.
    void Finish();
    // One of the framework's inputs to the run (a prompt's answer, a stop check), as a line of its own
    // among the calls: {"input":"stop","stop":false}.
    void Input(const std::string& line);

    HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override;
    BOOL CloseHandle(HANDLE handle) override;
    BOOL GetCommState(HANDLE handle, DCB* dcb) override;
    BOOL SetCommState(HANDLE handle, DCB* dcb) override;
    BOOL BuildCommDCBW(LPCWSTR definition, DCB* dcb) override;
    BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) override;
    BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override;
    BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override;
    BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) override;
    BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                   LPOVERLAPPED overlapped) override;
    BOOL GetCommModemStatus(HANDLE handle, LPDWORD status) override;
    BOOL GetCommProperties(HANDLE handle, LPCOMMPROP properties) override;
    DWORD GetLastError() override;
    void Sleep(DWORD milliseconds) override;
    DWORD GetTickCount() override;
    std::string SystemErrorText(DWORD code) override;

    bool DriverOpen() override;
    int ReadByte(unsigned short port, unsigned char* value) override;
    int WriteByte(unsigned short port, unsigned char value) override;

private:
    // The last error as the inner backend left it right after a call: writing this file must not change
    // what the module reads with GetLastError.
    void KeepLastError();
    // A call that answers only whether it worked: made, its last error kept, and its line written as what
    // was asked (built before the call) and "ok".
    template <typename Call> BOOL OkOnly(const std::string& asked, Call call);
    void Add(const std::string& line);
    void Add(const char* line, size_t length);
    void EndBlock();
    void WriteLine(const std::string& line);

    IWin32Backend& m_Win32;
    IPortIoBackend& m_PortIo;
    std::FILE* m_Out;
    CHandleNumbers m_Handles;
    DWORD m_LastError = 0;
    std::vector<std::string> m_Recent; // the last lines written, newest last, at most two blocks
    size_t m_BlockSize = 0;            // > 0 while a block repeats
    size_t m_BlockPosition = 0;        // how much of the next copy of the block has been seen
    unsigned long m_Repeats = 0;       // whole copies seen since the block was written twice
};

} // namespace tarnos
