// The call recorder: stands in front of the backends and writes every call that crosses the platform seam,
// with its arguments and results, as one JSON object per line: what the module asked of the operating
// system and the hardware, and every answer it got. A support engineer reads it to see what a port did; a
// replay answers a run from it. The format is in docs/recording.md.
//
// Busy polls repeat the same few calls thousands of times (the send and receive test reads the line status
// back to back), so a block of up to four lines that repeats is written once more as
// {"repeat": N, "of": K}: the K lines before it occur N more times.
#pragma once

#include "os/OsBackend.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tarnos {

class CCallRecorder final : public IWin32Backend, public IPortIoBackend {
public:
    static constexpr int FORMAT_VERSION = 1;

    // Forwards every call to win32 and portIo and writes it to out (not owned), after the header line.
    CCallRecorder(IWin32Backend& win32, IPortIoBackend& portIo, std::FILE* out, const std::string& header);
    ~CCallRecorder() override;
    CCallRecorder(const CCallRecorder&) = delete;
    CCallRecorder& operator=(const CCallRecorder&) = delete;

    // Writes a pending repeat line and flushes. Lines are flushed as they are written, so a program that
    // ends abruptly leaves a file that is whole up to its last call.
    void Finish();

    HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override;
    BOOL CloseHandle(HANDLE handle) override;
    BOOL GetCommState(HANDLE handle, DCB* dcb) override;
    BOOL SetCommState(HANDLE handle, DCB* dcb) override;
    BOOL BuildCommDCBW(LPCWSTR definition, DCB* dcb) override;
    BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) override;
    BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override;
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
    // Handles as numbers in the order the ports were opened (-1 for INVALID_HANDLE_VALUE), so that
    // recordings of the same run compare equal on any machine.
    long HandleNumber(HANDLE handle);
    // The last error as the inner backend left it right after a call: writing this file must not change
    // what the module reads with GetLastError.
    void KeepLastError();
    void Add(const std::string& line);
    void Add(const char* line, size_t length);
    void EndBlock();
    void WriteLine(const std::string& line);

    IWin32Backend& m_Win32;
    IPortIoBackend& m_PortIo;
    std::FILE* m_Out;
    std::map<HANDLE, long> m_Handles;
    long m_Opened = 0;
    DWORD m_LastError = 0;
    std::vector<std::string> m_Recent; // the last lines written, newest last, at most two blocks
    size_t m_BlockSize = 0;            // > 0 while a block repeats
    size_t m_BlockPosition = 0;        // how much of the next copy of the block has been seen
    unsigned long m_Repeats = 0;       // whole copies seen since the block was written twice
};

} // namespace tarnos
