#include "host/Replay.h"

#include "host/HostError.h"
#include "os/TarnKernelModeServices.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <fstream>

namespace tarnhost {
namespace {

using nlohmann::json;

// Handle values the replay gives out for the recording's numbers: as Windows', multiples of four.
const uintptr_t FIRST_HANDLE = 0x1000;
const uintptr_t HANDLE_STEP = 4;
const DWORD RACING_CLOCK_STEP_MS = 1000; // after a difference: every deadline of the tests passes at once
const size_t SHOWN_LINE = 160;           // of a recorded line in an error message

std::string Shown(const std::string& line) {
    return line.size() > SHOWN_LINE ? line.substr(0, SHOWN_LINE) + "..." : line;
}

bool BeginsWith(const std::string& line, const std::string& asked) {
    return line.size() > asked.size() && line.compare(0, asked.size(), asked) == 0 &&
           (line[asked.size()] == ',' || line[asked.size()] == '}');
}

} // namespace

CReplay::CReplay(const std::string& path) : m_Path(path) {
    std::ifstream file(path, std::ios::binary);
    std::string text;
    if (!file || !std::getline(file, text)) {
        throw CHostInputError(path, "cannot be read, or is empty (--replay)");
    }
    m_Facts = ParseFactsLine(text, path);
    size_t lineNumber = 1;
    size_t sinceRepeat = 0; // call and input lines since the last repeat line, which a repeat may take in
    while (std::getline(file, text)) {
        ++lineNumber;
        SLine line;
        line.text = text;
        if (text.compare(0, 10, "{\"repeat\":") == 0) {
            line.repeat = line.Number("repeat");
            line.of = line.Number("of");
            if (line.repeat == 0 || line.of == 0 || line.of > sinceRepeat) {
                throw CHostInputError(path, "line " + std::to_string(lineNumber) +
                                                ": a repeat of lines that are not there (--replay)");
            }
            sinceRepeat = 0;
        } else if (text.compare(0, 8, "{\"call\":") == 0 || text.compare(0, 9, "{\"input\":") == 0) {
            ++sinceRepeat;
        } else {
            throw CHostInputError(path, "line " + std::to_string(lineNumber) +
                                            ": neither a call nor an input (--replay)");
        }
        m_Lines.push_back(std::move(line));
    }
    if (file.bad()) {
        throw CHostInputError(path, "cannot be read (--replay)");
    }
}

std::string CReplay::SLine::Value(const char* key) const {
    const std::string field = std::string("\"") + key + "\":";
    size_t start = text.find(field);
    if (start == std::string::npos) {
        return "";
    }
    start += field.size();
    size_t end = text.find_first_of(",}", start);
    std::string value = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

unsigned long CReplay::SLine::Number(const char* key) const {
    const std::string value = Value(key);
    if (value.empty() || !(std::isdigit(static_cast<unsigned char>(value[0])) || value[0] == '-')) {
        return 0;
    }
    return std::strtoul(value.c_str(), nullptr, 0); // "0x3fd" or "9600"
}

const json& CReplay::SLine::Json() const {
    if (!parsed) {
        parsed.reset(new json(json::parse(text, nullptr, false)));
    }
    return *parsed;
}

void CReplay::SetDcb(const SLine& answer, DCB* dcb) {
    const json& line = answer.Json();
    if (dcb != nullptr && line.contains("dcb") && line.at("dcb").is_object()) {
        *dcb = DCB{};
        for (const auto& field : line.at("dcb").items()) {
            if (field.value().is_number_unsigned()) {
                tarnos::SetDcbField(*dcb, field.key(), field.value().get<unsigned long>());
            }
        }
    }
}

CReplay::~CReplay() {
    if (m_Installed) {
        tarnos::SetBackends(nullptr, nullptr);
    }
}

void CReplay::Install() {
    tarnos::SetBackends(this, this);
    m_Installed = true;
}

size_t CReplay::NextIndex() {
    while (true) {
        if (m_RepeatOf > 0) {
            size_t index = m_RepeatFirst + m_RepeatAt;
            if (++m_RepeatAt == m_RepeatOf) {
                m_RepeatAt = 0;
                if (--m_RepeatsLeft == 0) {
                    m_RepeatOf = 0;
                }
            }
            return index;
        }
        if (m_Next >= m_Lines.size()) {
            return m_Lines.size();
        }
        const SLine& line = m_Lines[m_Next];
        if (line.repeat == 0) {
            return m_Next++;
        }
        m_RepeatFirst = m_Next - line.of;
        m_RepeatOf = line.of;
        m_RepeatsLeft = line.repeat;
        m_RepeatAt = 0;
        ++m_Next;
    }
}

void CReplay::Diverge(const std::string& text, bool mayThrow) {
    if (m_Difference.empty()) {
        m_Difference = "--replay " + m_Path + ": " + text;
    }
    if (mayThrow && std::uncaught_exceptions() == 0) {
        throw CReplayDiverged(m_Difference);
    }
}

const CReplay::SLine* CReplay::Take(const std::string& asked, bool mayThrow) {
    if (!m_Difference.empty()) {
        Diverge(m_Difference, mayThrow); // thrown now if it could not be before
        return nullptr;
    }
    ++m_Position;
    const size_t index = NextIndex();
    const std::string position = "call " + std::to_string(m_Position);
    if (index == m_Lines.size()) {
        Diverge(position + ": the run asked " + asked + "}, but the recording ends there", mayThrow);
        return nullptr;
    }
    const SLine& line = m_Lines[index];
    if (!BeginsWith(line.text, asked)) {
        Diverge(position + " differs: the run asked " + asked + "}, the recording (line " +
                    std::to_string(index + 2) + ") has " + Shown(line.text),
                mayThrow);
        return nullptr;
    }
    return &line;
}

void CReplay::Finish() {
    if (m_Difference.empty()) {
        const size_t index = NextIndex();
        if (index < m_Lines.size()) {
            m_Difference = "--replay " + m_Path + ": the run ended after call " + std::to_string(m_Position) +
                           ", but the recording goes on (line " + std::to_string(index + 2) +
                           "): " + Shown(m_Lines[index].text);
        }
    }
    if (!m_Difference.empty()) {
        throw CReplayDiverged(m_Difference);
    }
}

// IWin32Backend: each call takes its line and gives back what the line says came back.

HANDLE CReplay::CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                            DWORD flags, HANDLE) {
    using namespace tarnos;
    const SLine* answer = Take(AskedCreateFile(name, access, share, disposition, flags));
    const long number = answer != nullptr ? std::strtol(answer->Value("handle").c_str(), nullptr, 10) : -1;
    HANDLE handle =
        number > 0 ? reinterpret_cast<HANDLE>(FIRST_HANDLE + HANDLE_STEP * static_cast<uintptr_t>(number))
                   : INVALID_HANDLE_VALUE;
    m_Handles.Opened(handle);
    return handle;
}

BOOL CReplay::CloseHandle(HANDLE handle) {
    using namespace tarnos;
    return Ok(Take(AskedOnHandle("CloseHandle", m_Handles.Json(handle)), false));
}

BOOL CReplay::GetCommState(HANDLE handle, DCB* dcb) {
    using namespace tarnos;
    const SLine* answer = Take(AskedOnHandle("GetCommState", m_Handles.Json(handle)));
    if (Ok(answer)) {
        SetDcb(*answer, dcb);
    }
    return Ok(answer);
}

BOOL CReplay::SetCommState(HANDLE handle, DCB* dcb) {
    using namespace tarnos;
    return Ok(Take(AskedSetCommState(m_Handles.Json(handle), dcb)));
}

BOOL CReplay::BuildCommDCBW(LPCWSTR definition, DCB* dcb) {
    using namespace tarnos;
    const SLine* answer = Take(AskedBuildCommDcb(definition));
    if (answer != nullptr) {
        SetDcb(*answer, dcb); // what the call left, also when it refused the text
    }
    return Ok(answer);
}

BOOL CReplay::SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
    using namespace tarnos;
    return Ok(Take(AskedSetupComm(m_Handles.Json(handle), inQueue, outQueue)));
}

BOOL CReplay::SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    using namespace tarnos;
    return Ok(Take(AskedSetCommTimeouts(m_Handles.Json(handle), timeouts)));
}

BOOL CReplay::GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    using namespace tarnos;
    const SLine* answer = Take(AskedOnHandle("GetCommTimeouts", m_Handles.Json(handle)));
    const json* values =
        Ok(answer) && answer->Json().contains("timeouts") ? &answer->Json().at("timeouts") : nullptr;
    if (values != nullptr && timeouts != nullptr && values->is_array() && values->size() == 5) {
        timeouts->ReadIntervalTimeout = values->at(0);
        timeouts->ReadTotalTimeoutMultiplier = values->at(1);
        timeouts->ReadTotalTimeoutConstant = values->at(2);
        timeouts->WriteTotalTimeoutMultiplier = values->at(3);
        timeouts->WriteTotalTimeoutConstant = values->at(4);
    }
    return Ok(answer);
}

BOOL CReplay::ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
    using namespace tarnos;
    const SLine* answer = Take(AskedReadFile(m_Handles.Json(handle), toRead));
    if (read != nullptr) {
        *read = answer != nullptr ? static_cast<DWORD>(answer->Number("read")) : 0;
    }
    if (answer != nullptr && buffer != nullptr) {
        const std::string data = answer->Value("data");
        unsigned char* bytes = static_cast<unsigned char*>(buffer);
        for (size_t i = 0; i + 1 < data.size() && i / 2 < toRead; i += 2) {
            bytes[i / 2] = static_cast<unsigned char>(std::strtoul(data.substr(i, 2).c_str(), nullptr, 16));
        }
    }
    return Ok(answer);
}

BOOL CReplay::WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
    using namespace tarnos;
    const SLine* answer = Take(AskedWriteFile(m_Handles.Json(handle), buffer, toWrite));
    if (written != nullptr) {
        *written = answer != nullptr ? static_cast<DWORD>(answer->Number("written")) : 0;
    }
    return Ok(answer);
}

BOOL CReplay::GetCommModemStatus(HANDLE handle, LPDWORD status) {
    using namespace tarnos;
    const SLine* answer = Take(AskedOnHandle("GetCommModemStatus", m_Handles.Json(handle)));
    if (status != nullptr) {
        *status = answer != nullptr ? static_cast<DWORD>(answer->Number("status")) : 0;
    }
    return Ok(answer);
}

BOOL CReplay::GetCommProperties(HANDLE handle, LPCOMMPROP properties) {
    using namespace tarnos;
    const SLine* answer = Take(AskedOnHandle("GetCommProperties", m_Handles.Json(handle)));
    if (answer != nullptr && properties != nullptr && !answer->Value("subType").empty()) {
        properties->dwProvSubType = static_cast<DWORD>(answer->Number("subType"));
        properties->dwSettableBaud = static_cast<DWORD>(answer->Number("settableBaud"));
    }
    return Ok(answer);
}

DWORD CReplay::GetLastError() {
    const SLine* answer = Take(tarnos::CallStart("GetLastError"));
    return answer != nullptr ? static_cast<DWORD>(answer->Number("error")) : ERROR_GEN_FAILURE;
}

void CReplay::Sleep(DWORD milliseconds) {
    Take(tarnos::AskedSleep(milliseconds)); // no time passes here
}

DWORD CReplay::GetTickCount() {
    const SLine* answer = Take(tarnos::TICK_ASKED);
    m_Ticks += RACING_CLOCK_STEP_MS;
    return answer != nullptr ? static_cast<DWORD>(answer->Number("ms")) : m_Ticks;
}

std::string CReplay::SystemErrorText(DWORD code) {
    const SLine* answer = Take(tarnos::AskedSystemErrorText(code));
    return answer != nullptr ? answer->Json().value("text", "") : "";
}

// IPortIoBackend

bool CReplay::DriverOpen() {
    const SLine* answer = Take(tarnos::DRIVER_ASKED);
    return answer != nullptr && answer->Flag("open");
}

int CReplay::ReadByte(unsigned short port, unsigned char* value) {
    char asked[64];
    std::snprintf(asked, sizeof asked, tarnos::PORT_READ_ASKED, port);
    const SLine* answer = Take(asked);
    if (answer == nullptr) {
        return TarnKernelModeServices::TARNSRVC_ACCESS_FAILED;
    }
    const int rc = static_cast<int>(std::strtol(answer->Value("rc").c_str(), nullptr, 10));
    if (rc == 0 && value != nullptr) {
        *value = static_cast<unsigned char>(answer->Number("value"));
    }
    return rc;
}

int CReplay::WriteByte(unsigned short port, unsigned char value) {
    char asked[80];
    std::snprintf(asked, sizeof asked, tarnos::PORT_WRITE_ASKED, port, value);
    const SLine* answer = Take(asked);
    return answer != nullptr ? static_cast<int>(std::strtol(answer->Value("rc").c_str(), nullptr, 10))
                             : TarnKernelModeServices::TARNSRVC_ACCESS_FAILED;
}

// IRunInputs: after a difference, the answers that end the session soonest.

bool CReplay::TakeInput(const char* kind, bool afterDifference) {
    const SLine* answer = Take(tarnos::InputStart(kind));
    return answer != nullptr ? answer->Flag("answer") : afterDifference;
}

kivu5::MsgBoxReturn CReplay::PromptAnswer(const kivu5::PromptRequest&) {
    const SLine* answer = Take(tarnos::InputStart("prompt"));
    return answer != nullptr ? static_cast<kivu5::MsgBoxReturn>(answer->Number("answer"))
                             : kivu5::MSGBOX_RETURN_CANCEL;
}

bool CReplay::StopCheck() {
    return TakeInput("stop", true);
}

bool CReplay::CtrlC() {
    return TakeInput("ctrlC", true);
}

bool CReplay::PassBegins() {
    return TakeInput("pass", false);
}

} // namespace tarnhost
