#include "os/CallRecorder.h"

#include <algorithm>
#include <cstdio>

namespace tarnos {
namespace {

const size_t LONGEST_BLOCK = 4;

std::string HexJson(unsigned long value) {
    char text[24];
    std::snprintf(text, sizeof text, "\"0x%lx\"", value);
    return text;
}

// A wide text of the seam (device names, frame texts) as 8-bit: they are ASCII; anything else shows as '?'.
std::string AsciiText(const wchar_t* wide) {
    std::string text;
    for (; wide != nullptr && *wide != 0; ++wide) {
        text += (*wide >= 0x20 && *wide < 0x7F) ? static_cast<char>(*wide) : '?';
    }
    return text;
}

std::string JsonText(const std::string& text) {
    std::string json = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
        } else {
            json += static_cast<char>(c);
        }
    }
    return json + "\"";
}

std::string BytesHex(const void* bytes, DWORD count) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string hex;
    const unsigned char* byte = static_cast<const unsigned char*>(bytes);
    for (DWORD i = 0; byte != nullptr && i < count; ++i) {
        hex += DIGITS[byte[i] >> 4];
        hex += DIGITS[byte[i] & 0x0F];
    }
    return hex;
}

// A DCB with the fields that are not zero, in the order of the record: most of its flags are clear.
std::string DcbJson(const DCB& dcb) {
    const std::pair<const char*, unsigned long> fields[] = {
        {"baud", dcb.BaudRate},
        {"binary", dcb.fBinary},
        {"parity", dcb.fParity},
        {"outxCtsFlow", dcb.fOutxCtsFlow},
        {"outxDsrFlow", dcb.fOutxDsrFlow},
        {"dtrControl", dcb.fDtrControl},
        {"dsrSensitivity", dcb.fDsrSensitivity},
        {"txContinueOnXoff", dcb.fTXContinueOnXoff},
        {"outX", dcb.fOutX},
        {"inX", dcb.fInX},
        {"errorChar", dcb.fErrorChar},
        {"null", dcb.fNull},
        {"rtsControl", dcb.fRtsControl},
        {"abortOnError", dcb.fAbortOnError},
        {"xonLim", dcb.XonLim},
        {"xoffLim", dcb.XoffLim},
        {"byteSize", dcb.ByteSize},
        {"parityScheme", dcb.Parity},
        {"stopBits", dcb.StopBits},
        {"xonChar", static_cast<unsigned char>(dcb.XonChar)},
        {"xoffChar", static_cast<unsigned char>(dcb.XoffChar)},
        {"errorCharacter", static_cast<unsigned char>(dcb.ErrorChar)},
        {"eofChar", static_cast<unsigned char>(dcb.EofChar)},
        {"evtChar", static_cast<unsigned char>(dcb.EvtChar)},
    };
    std::string json = "{\"length\":" + std::to_string(dcb.DCBlength);
    for (const auto& field : fields) {
        if (field.second != 0) {
            json += ",\"" + std::string(field.first) + "\":" + std::to_string(field.second);
        }
    }
    return json + "}";
}

std::string TimeoutsJson(const COMMTIMEOUTS& timeouts) {
    return "[" + std::to_string(timeouts.ReadIntervalTimeout) + "," +
           std::to_string(timeouts.ReadTotalTimeoutMultiplier) + "," +
           std::to_string(timeouts.ReadTotalTimeoutConstant) + "," +
           std::to_string(timeouts.WriteTotalTimeoutMultiplier) + "," +
           std::to_string(timeouts.WriteTotalTimeoutConstant) + "]";
}

std::string Handle(long number) {
    return std::to_string(number);
}

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

long CCallRecorder::HandleNumber(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    auto found = m_Handles.find(handle);
    return found != m_Handles.end() ? found->second : 0; // 0: a handle this recording never saw opened
}

void CCallRecorder::KeepLastError() {
    m_LastError = m_Win32.GetLastError();
}

HANDLE CCallRecorder::CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE templateFile) {
    HANDLE handle = m_Win32.CreateFileW(name, access, share, security, disposition, flags, templateFile);
    KeepLastError();
    long number = -1;
    if (handle != INVALID_HANDLE_VALUE) {
        number = ++m_Opened; // a handle value may come back for another open after it was closed
        m_Handles[handle] = number;
    }
    Add("{\"call\":\"CreateFileW\",\"name\":" + JsonText(AsciiText(name)) + ",\"access\":" + HexJson(access) +
        ",\"share\":" + std::to_string(share) + ",\"disposition\":" + std::to_string(disposition) +
        ",\"flags\":" + std::to_string(flags) + ",\"handle\":" + Handle(number) + "}");
    return handle;
}

BOOL CCallRecorder::CloseHandle(HANDLE handle) {
    long number = HandleNumber(handle);
    BOOL ok = m_Win32.CloseHandle(handle);
    KeepLastError();
    Add("{\"call\":\"CloseHandle\",\"handle\":" + Handle(number) + ",\"ok\":" + Ok(ok) + "}");
    return ok;
}

BOOL CCallRecorder::GetCommState(HANDLE handle, DCB* dcb) {
    BOOL ok = m_Win32.GetCommState(handle, dcb);
    KeepLastError();
    Add("{\"call\":\"GetCommState\",\"handle\":" + Handle(HandleNumber(handle)) + ",\"ok\":" + Ok(ok) +
        (ok && dcb ? ",\"dcb\":" + DcbJson(*dcb) : "") + "}");
    return ok;
}

BOOL CCallRecorder::SetCommState(HANDLE handle, DCB* dcb) {
    std::string asked = dcb ? DcbJson(*dcb) : "null";
    BOOL ok = m_Win32.SetCommState(handle, dcb);
    KeepLastError();
    Add("{\"call\":\"SetCommState\",\"handle\":" + Handle(HandleNumber(handle)) + ",\"dcb\":" + asked +
        ",\"ok\":" + Ok(ok) + "}");
    return ok;
}

BOOL CCallRecorder::BuildCommDCBW(LPCWSTR definition, DCB* dcb) {
    BOOL ok = m_Win32.BuildCommDCBW(definition, dcb);
    KeepLastError();
    Add("{\"call\":\"BuildCommDCBW\",\"text\":" + JsonText(AsciiText(definition)) + ",\"ok\":" + Ok(ok) +
        (dcb ? ",\"dcb\":" + DcbJson(*dcb) : "") + "}");
    return ok;
}

BOOL CCallRecorder::SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
    BOOL ok = m_Win32.SetupComm(handle, inQueue, outQueue);
    KeepLastError();
    Add("{\"call\":\"SetupComm\",\"handle\":" + Handle(HandleNumber(handle)) + ",\"in\":" +
        std::to_string(inQueue) + ",\"out\":" + std::to_string(outQueue) + ",\"ok\":" + Ok(ok) + "}");
    return ok;
}

BOOL CCallRecorder::SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    std::string asked = timeouts ? TimeoutsJson(*timeouts) : "null";
    BOOL ok = m_Win32.SetCommTimeouts(handle, timeouts);
    KeepLastError();
    Add("{\"call\":\"SetCommTimeouts\",\"handle\":" + Handle(HandleNumber(handle)) +
        ",\"timeouts\":" + asked + ",\"ok\":" + Ok(ok) + "}");
    return ok;
}

BOOL CCallRecorder::ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                             LPOVERLAPPED overlapped) {
    BOOL ok = m_Win32.ReadFile(handle, buffer, toRead, read, overlapped);
    KeepLastError();
    DWORD count = read ? std::min(*read, toRead) : 0;
    Add("{\"call\":\"ReadFile\",\"handle\":" + Handle(HandleNumber(handle)) +
        ",\"toRead\":" + std::to_string(toRead) + ",\"ok\":" + Ok(ok) +
        ",\"read\":" + std::to_string(read ? *read : 0) + ",\"data\":\"" + BytesHex(buffer, count) + "\"}");
    return ok;
}

BOOL CCallRecorder::WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                              LPOVERLAPPED overlapped) {
    std::string data = BytesHex(buffer, toWrite);
    BOOL ok = m_Win32.WriteFile(handle, buffer, toWrite, written, overlapped);
    KeepLastError();
    Add("{\"call\":\"WriteFile\",\"handle\":" + Handle(HandleNumber(handle)) + ",\"data\":\"" + data +
        "\",\"ok\":" + Ok(ok) + ",\"written\":" + std::to_string(written ? *written : 0) + "}");
    return ok;
}

BOOL CCallRecorder::GetCommModemStatus(HANDLE handle, LPDWORD status) {
    BOOL ok = m_Win32.GetCommModemStatus(handle, status);
    KeepLastError();
    Add("{\"call\":\"GetCommModemStatus\",\"handle\":" + Handle(HandleNumber(handle)) + ",\"ok\":" + Ok(ok) +
        ",\"status\":" + HexJson(status ? *status : 0) + "}");
    return ok;
}

BOOL CCallRecorder::GetCommProperties(HANDLE handle, LPCOMMPROP properties) {
    BOOL ok = m_Win32.GetCommProperties(handle, properties);
    KeepLastError();
    Add("{\"call\":\"GetCommProperties\",\"handle\":" + Handle(HandleNumber(handle)) + ",\"ok\":" + Ok(ok) +
        (properties ? ",\"subType\":" + std::to_string(properties->dwProvSubType) +
                          ",\"settableBaud\":" + HexJson(properties->dwSettableBaud)
                    : "") +
        "}");
    return ok;
}

DWORD CCallRecorder::GetLastError() {
    Add("{\"call\":\"GetLastError\",\"error\":" + std::to_string(m_LastError) + "}");
    return m_LastError;
}

void CCallRecorder::Sleep(DWORD milliseconds) {
    m_Win32.Sleep(milliseconds);
    Add("{\"call\":\"Sleep\",\"ms\":" + std::to_string(milliseconds) + "}");
}

// The clock, the driver check and the register reads are the busy polls' calls: formatted without
// building strings, since only one line in thousands is written.
DWORD CCallRecorder::GetTickCount() {
    DWORD now = m_Win32.GetTickCount();
    char line[48];
    int length = std::snprintf(line, sizeof line, "{\"call\":\"GetTickCount\",\"ms\":%lu}",
                               static_cast<unsigned long>(now));
    Add(line, static_cast<size_t>(length));
    return now;
}

std::string CCallRecorder::SystemErrorText(DWORD code) {
    std::string text = m_Win32.SystemErrorText(code);
    Add("{\"call\":\"SystemErrorText\",\"error\":" + std::to_string(code) + ",\"text\":" + JsonText(text) +
        "}");
    return text;
}

bool CCallRecorder::DriverOpen() {
    bool open = m_PortIo.DriverOpen();
    static const char OPEN[] = "{\"call\":\"DriverOpened\",\"open\":true}";
    static const char CLOSED[] = "{\"call\":\"DriverOpened\",\"open\":false}";
    Add(open ? OPEN : CLOSED, open ? sizeof OPEN - 1 : sizeof CLOSED - 1);
    return open;
}

int CCallRecorder::ReadByte(unsigned short port, unsigned char* value) {
    int rc = m_PortIo.ReadByte(port, value);
    char line[80];
    int length =
        rc == 0 ? std::snprintf(line, sizeof line,
                                "{\"call\":\"PortReadByte\",\"port\":\"0x%x\",\"rc\":0,\"value\":\"0x%x\"}",
                                port, *value)
                : std::snprintf(line, sizeof line, "{\"call\":\"PortReadByte\",\"port\":\"0x%x\",\"rc\":%d}",
                                port, rc);
    Add(line, static_cast<size_t>(length));
    return rc;
}

int CCallRecorder::WriteByte(unsigned short port, unsigned char value) {
    int rc = m_PortIo.WriteByte(port, value);
    Add("{\"call\":\"PortWriteByte\",\"port\":" + HexJson(port) + ",\"value\":" + HexJson(value) +
        ",\"rc\":" + std::to_string(rc) + "}");
    return rc;
}

} // namespace tarnos
