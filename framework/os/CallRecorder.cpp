#include "os/CallRecorder.h"

#include <algorithm>
#include <cstdio>

namespace tarnos {
namespace {

const size_t LONGEST_BLOCK = 4;

std::string Ok(BOOL ok) {
    return ok ? "true" : "false";
}

} // namespace

CCallRecorder::CCallRecorder(IWin32Backend& win32, IPortIoBackend& portIo, std::FILE* out,
                             const std::string& header)
    : m_Win32(win32), m_PortIo(portIo), m_Out(out) {
    WriteLine(header);
    m_Recent.clear(); // the header is never part of a repeated block
}

CCallRecorder::~CCallRecorder() {
    Finish();
}

void CCallRecorder::Finish() {
    EndBlock();
    std::fflush(m_Out);
}

void CCallRecorder::EndBlock() {
    if (m_BlockSize == 0) {
        return;
    }
    const auto blockStart = m_Recent.end() - static_cast<long>(m_BlockSize);
    std::vector<std::string> seen(blockStart, blockStart + static_cast<long>(m_BlockPosition));
    if (m_Repeats > 0) {
        WriteLine("{\"repeat\":" + std::to_string(m_Repeats) + ",\"of\":" + std::to_string(m_BlockSize) +
                  "}");
        m_Recent.clear(); // a later block never takes in a repeat line
    }
    m_BlockSize = m_BlockPosition = 0;
    m_Repeats = 0;
    for (const std::string& line : seen) {
        WriteLine(line);
    }
}

void CCallRecorder::WriteLine(const std::string& line) {
    std::fputs(line.c_str(), m_Out);
    std::fputc('\n', m_Out);
    std::fflush(m_Out);
    m_Recent.push_back(line);
    if (m_Recent.size() > 2 * LONGEST_BLOCK) {
        m_Recent.erase(m_Recent.begin());
    }
}

void CCallRecorder::Add(const std::string& line) {
    Add(line.c_str(), line.size());
}

void CCallRecorder::Add(const char* line, size_t length) {
    if (m_BlockSize > 0) {
        if (m_Recent[m_Recent.size() - m_BlockSize + m_BlockPosition].compare(0, std::string::npos, line,
                                                                              length) == 0) {
            if (++m_BlockPosition == m_BlockSize) {
                ++m_Repeats;
                m_BlockPosition = 0;
            }
            return;
        }
        EndBlock(); // how often the block repeated, then what was seen of the next copy
    }
    WriteLine(std::string(line, length));
    for (size_t size = 1; size <= LONGEST_BLOCK && 2 * size <= m_Recent.size(); ++size) {
        if (std::equal(m_Recent.end() - static_cast<long>(size), m_Recent.end(),
                       m_Recent.end() - static_cast<long>(2 * size))) {
            m_BlockSize = size;
            break;
        }
    }
}

void CCallRecorder::KeepLastError() {
    m_LastError = m_Win32.GetLastError();
}

template <typename Call> BOOL CCallRecorder::OkOnly(const std::string& asked, Call call) {
    BOOL ok = call();
    KeepLastError();
    Add(asked + Field("ok", Ok(ok)) + "}");
    return ok;
}

void CCallRecorder::Input(const std::string& line) {
    Add(line);
}

HANDLE CCallRecorder::CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE templateFile) {
    HANDLE handle = m_Win32.CreateFileW(name, access, share, security, disposition, flags, templateFile);
    KeepLastError();
    Add(AskedCreateFile(name, access, share, disposition, flags) +
        Field("handle", std::to_string(m_Handles.Opened(handle))) + "}");
    return handle;
}

BOOL CCallRecorder::CloseHandle(HANDLE handle) {
    return OkOnly(AskedOnHandle("CloseHandle", m_Handles.Json(handle)),
                  [&] { return m_Win32.CloseHandle(handle); });
}

BOOL CCallRecorder::GetCommState(HANDLE handle, DCB* dcb) {
    BOOL ok = m_Win32.GetCommState(handle, dcb);
    KeepLastError();
    Add(AskedOnHandle("GetCommState", m_Handles.Json(handle)) + Field("ok", Ok(ok)) +
        (ok && dcb ? Field("dcb", DcbJson(*dcb)) : "") + "}");
    return ok;
}

BOOL CCallRecorder::SetCommState(HANDLE handle, DCB* dcb) {
    return OkOnly(AskedSetCommState(m_Handles.Json(handle), dcb),
                  [&] { return m_Win32.SetCommState(handle, dcb); });
}

BOOL CCallRecorder::BuildCommDCBW(LPCWSTR definition, DCB* dcb) {
    BOOL ok = m_Win32.BuildCommDCBW(definition, dcb);
    KeepLastError();
    Add(AskedBuildCommDcb(definition) + Field("ok", Ok(ok)) + (dcb ? Field("dcb", DcbJson(*dcb)) : "") + "}");
    return ok;
}

BOOL CCallRecorder::SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
    return OkOnly(AskedSetupComm(m_Handles.Json(handle), inQueue, outQueue),
                  [&] { return m_Win32.SetupComm(handle, inQueue, outQueue); });
}

BOOL CCallRecorder::SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    return OkOnly(AskedSetCommTimeouts(m_Handles.Json(handle), timeouts),
                  [&] { return m_Win32.SetCommTimeouts(handle, timeouts); });
}

BOOL CCallRecorder::GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    BOOL ok = m_Win32.GetCommTimeouts(handle, timeouts);
    KeepLastError();
    Add(AskedOnHandle("GetCommTimeouts", m_Handles.Json(handle)) + Field("ok", Ok(ok)) +
        (ok && timeouts ? Field("timeouts", TimeoutsJson(*timeouts)) : "") + "}");
    return ok;
}

BOOL CCallRecorder::ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                             LPOVERLAPPED overlapped) {
    BOOL ok = m_Win32.ReadFile(handle, buffer, toRead, read, overlapped);
    KeepLastError();
    DWORD count = read ? std::min(*read, toRead) : 0;
    Add(AskedReadFile(m_Handles.Json(handle), toRead) + Field("ok", Ok(ok)) +
        Field("read", read ? *read : 0) + Field("data", "\"" + BytesHex(buffer, count) + "\"") + "}");
    return ok;
}

BOOL CCallRecorder::WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                              LPOVERLAPPED overlapped) {
    std::string asked = AskedWriteFile(m_Handles.Json(handle), buffer, toWrite);
    BOOL ok = m_Win32.WriteFile(handle, buffer, toWrite, written, overlapped);
    KeepLastError();
    Add(asked + Field("ok", Ok(ok)) + Field("written", written ? *written : 0) + "}");
    return ok;
}

BOOL CCallRecorder::GetCommModemStatus(HANDLE handle, LPDWORD status) {
    BOOL ok = m_Win32.GetCommModemStatus(handle, status);
    KeepLastError();
    Add(AskedOnHandle("GetCommModemStatus", m_Handles.Json(handle)) + Field("ok", Ok(ok)) +
        Field("status", HexJson(status ? *status : 0)) + "}");
    return ok;
}

BOOL CCallRecorder::GetCommProperties(HANDLE handle, LPCOMMPROP properties) {
    BOOL ok = m_Win32.GetCommProperties(handle, properties);
    KeepLastError();
    Add(AskedOnHandle("GetCommProperties", m_Handles.Json(handle)) + Field("ok", Ok(ok)) +
        (properties ? Field("subType", properties->dwProvSubType) +
                          Field("settableBaud", HexJson(properties->dwSettableBaud))
                    : "") +
        "}");
    return ok;
}

DWORD CCallRecorder::GetLastError() {
    Add(CallStart("GetLastError") + Field("error", m_LastError) + "}");
    return m_LastError;
}

void CCallRecorder::Sleep(DWORD milliseconds) {
    m_Win32.Sleep(milliseconds);
    Add(AskedSleep(milliseconds) + "}");
}

// The clock, the driver check and the register reads are the busy polls' calls: formatted without
// building strings, since only one line in thousands is written.
DWORD CCallRecorder::GetTickCount() {
    DWORD now = m_Win32.GetTickCount();
    char line[48];
    int length =
        std::snprintf(line, sizeof line, "%s,\"ms\":%lu}", TICK_ASKED, static_cast<unsigned long>(now));
    Add(line, static_cast<size_t>(length));
    return now;
}

std::string CCallRecorder::SystemErrorText(DWORD code) {
    std::string text = m_Win32.SystemErrorText(code);
    Add(AskedSystemErrorText(code) + Field("text", JsonText(text)) + "}");
    return text;
}

bool CCallRecorder::DriverOpen() {
    bool open = m_PortIo.DriverOpen();
    char line[48];
    int length = std::snprintf(line, sizeof line, "%s,\"open\":%s}", DRIVER_ASKED, open ? "true" : "false");
    Add(line, static_cast<size_t>(length));
    return open;
}

int CCallRecorder::ReadByte(unsigned short port, unsigned char* value) {
    int rc = m_PortIo.ReadByte(port, value);
    char line[96];
    int length = std::snprintf(line, sizeof line, PORT_READ_ASKED, port);
    length +=
        rc == 0 ? std::snprintf(line + length, sizeof line - static_cast<size_t>(length),
                                ",\"rc\":0,\"value\":\"0x%x\"}", *value)
                : std::snprintf(line + length, sizeof line - static_cast<size_t>(length), ",\"rc\":%d}", rc);
    Add(line, static_cast<size_t>(length));
    return rc;
}

int CCallRecorder::WriteByte(unsigned short port, unsigned char value) {
    int rc = m_PortIo.WriteByte(port, value);
    char line[96];
    int length = std::snprintf(line, sizeof line, PORT_WRITE_ASKED, port, value);
    length += std::snprintf(line + length, sizeof line - static_cast<size_t>(length), ",\"rc\":%d}", rc);
    Add(line, static_cast<size_t>(length));
    return rc;
}

} // namespace tarnos
