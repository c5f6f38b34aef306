// --replay FILE: a recorded session played back on any machine. The recording's first line gives the
// devices, parameters and tests (SessionFacts.h); then this backend answers every call through the
// platform seam from the recorded lines, in order, and checks that the run asks exactly the recorded calls
// with the recorded arguments. The framework's inputs (prompt answers, stop checks, Ctrl-C, a soak's
// passes) come from their lines too. No port, register or clock of this machine is touched: Sleep returns
// at once and GetTickCount gives the recorded times, so the run takes milliseconds and produces the
// recorded report.
//
// The first call that differs ends the run: CReplayDiverged names the call's position, what the run asked
// and what was recorded. A call made while an exception is already on its way, or CloseHandle (which the
// port object's destructor makes), cannot throw: the difference is kept and thrown by the next call, or
// by Finish.
#pragma once

#include "host/RunLoop.h"
#include "host/SessionFacts.h"
#include "os/CallLines.h"
#include "os/OsBackend.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnhost {

class CReplayDiverged : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    // The one line for standard error.
    std::string Line() const { return "tarnserialport: " + std::string(what()); }
};

class CReplay final : public tarnos::IWin32Backend, public tarnos::IPortIoBackend, public IRunInputs {
public:
    // Reads the whole file: one that cannot be read, or is not a recording of this format, is bad input.
    explicit CReplay(const std::string& path);
    ~CReplay() override;
    CReplay(const CReplay&) = delete;
    CReplay& operator=(const CReplay&) = delete;

    const SessionFacts& Facts() const { return m_Facts; }
    // Answers the seam from now on (tarnos::SetBackends); the destructor takes it away again.
    void Install();
    // The session is over: throws CReplayDiverged for a difference kept, or when recorded lines are left.
    void Finish();

    // IWin32Backend
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

    // IPortIoBackend
    bool DriverOpen() override;
    int ReadByte(unsigned short port, unsigned char* value) override;
    int WriteByte(unsigned short port, unsigned char value) override;

    // IRunInputs
    kivu5::MsgBoxReturn PromptAnswer(const kivu5::PromptRequest& request) override;
    bool StopCheck() override;
    bool CtrlC() override;
    bool PassBegins() override;

private:
    // One line of the file. The busy polls' lines are read as text, the others parsed when first taken.
    struct SLine {
        std::string text;
        unsigned long repeat = 0; // a repeat line: the `of` lines before it occur this many more times
        size_t of = 0;
        mutable std::unique_ptr<nlohmann::json> parsed;
        // A field that is a number, true/false or a short string ("0x3f"): its text, "" when absent.
        std::string Value(const char* key) const;
        unsigned long Number(const char* key) const; // decimal, or "0x" hex
        bool Flag(const char* key) const { return Value(key) == "true"; }
        const nlohmann::json& Json() const;
    };
    // The next recorded line, which must begin with asked (a call's name and arguments, or an input's
    // kind); null after a difference that could not be thrown. mayThrow false: CloseHandle's.
    const SLine* Take(const std::string& asked, bool mayThrow = true);
    bool TakeInput(const char* kind, bool afterDifference);
    // The index of the next line in call order, repeats written out; m_Lines.size() at the end.
    size_t NextIndex();
    void Diverge(const std::string& text, bool mayThrow);
    static bool Ok(const SLine* answer) { return answer != nullptr && answer->Flag("ok"); }
    static void SetDcb(const SLine& answer, DCB* dcb);

    std::string m_Path;
    SessionFacts m_Facts;
    std::vector<SLine> m_Lines;
    size_t m_Next = 0;               // the next line of the file to read, past repeats written out
    size_t m_RepeatFirst = 0;        // the block being repeated: its first line,
    size_t m_RepeatOf = 0;           // its length,
    unsigned long m_RepeatsLeft = 0; // the whole copies still to come after this one,
    size_t m_RepeatAt = 0;           // and the place in this copy
    unsigned long m_Position = 0;    // calls and inputs taken so far
    std::string m_Difference;        // the first difference, kept until it can be thrown
    tarnos::CHandleNumbers m_Handles;
    DWORD m_Ticks = 0; // after a difference: a clock that races, so that waits end
    bool m_Installed = false;
};

} // namespace tarnhost
