#include "os/CallLines.h"

#include <cstdio>

namespace tarnos {
namespace {

// One DCB field: its name in a recording, how to read it and how to set it (flags are bit fields, which
// take no pointer to member).
struct SDcbField {
    const char* key;
    unsigned long (*get)(const DCB& dcb);
    void (*set)(DCB& dcb, unsigned long value);
};
// The mask keeps a char's sign out of the number, and a number within the field's width.
#define TARN_DCB_FIELD(key, member, mask)                                                                    \
    {                                                                                                        \
        key, [](const DCB& dcb) { return static_cast<unsigned long>(dcb.member) & (mask); },                 \
            [](DCB& dcb, unsigned long value) {                                                              \
                dcb.member = static_cast<decltype(dcb.member)>(value & (mask));                              \
            }                                                                                                \
    }
const SDcbField DCB_FIELDS[] = {
    TARN_DCB_FIELD("baud", BaudRate, 0xFFFFFFFFul),
    TARN_DCB_FIELD("binary", fBinary, 1ul),
    TARN_DCB_FIELD("parity", fParity, 1ul),
    TARN_DCB_FIELD("outxCtsFlow", fOutxCtsFlow, 1ul),
    TARN_DCB_FIELD("outxDsrFlow", fOutxDsrFlow, 1ul),
    TARN_DCB_FIELD("dtrControl", fDtrControl, 3ul),
    TARN_DCB_FIELD("dsrSensitivity", fDsrSensitivity, 1ul),
    TARN_DCB_FIELD("txContinueOnXoff", fTXContinueOnXoff, 1ul),
    TARN_DCB_FIELD("outX", fOutX, 1ul),
    TARN_DCB_FIELD("inX", fInX, 1ul),
    TARN_DCB_FIELD("errorChar", fErrorChar, 1ul),
    TARN_DCB_FIELD("null", fNull, 1ul),
    TARN_DCB_FIELD("rtsControl", fRtsControl, 3ul),
    TARN_DCB_FIELD("abortOnError", fAbortOnError, 1ul),
    TARN_DCB_FIELD("xonLim", XonLim, 0xFFFFul),
    TARN_DCB_FIELD("xoffLim", XoffLim, 0xFFFFul),
    TARN_DCB_FIELD("byteSize", ByteSize, 0xFFul),
    TARN_DCB_FIELD("parityScheme", Parity, 0xFFul),
    TARN_DCB_FIELD("stopBits", StopBits, 0xFFul),
    TARN_DCB_FIELD("xonChar", XonChar, 0xFFul),
    TARN_DCB_FIELD("xoffChar", XoffChar, 0xFFul),
    TARN_DCB_FIELD("errorCharacter", ErrorChar, 0xFFul),
    TARN_DCB_FIELD("eofChar", EofChar, 0xFFul),
    TARN_DCB_FIELD("evtChar", EvtChar, 0xFFul),
};
#undef TARN_DCB_FIELD

} // namespace

const char TICK_ASKED[] = "{\"call\":\"GetTickCount\"";
const char DRIVER_ASKED[] = "{\"call\":\"DriverOpened\"";
const char PORT_READ_ASKED[] = "{\"call\":\"PortReadByte\",\"port\":\"0x%x\"";
const char PORT_WRITE_ASKED[] = "{\"call\":\"PortWriteByte\",\"port\":\"0x%x\",\"value\":\"0x%x\"";

std::string CallStart(const char* name) {
    return std::string("{\"call\":\"") + name + "\"";
}

std::string InputStart(const char* kind) {
    return std::string("{\"input\":\"") + kind + "\"";
}

std::string InputLine(const char* kind, const std::string& answer) {
    return InputStart(kind) + Field("answer", answer) + "}";
}

std::string Field(const char* key, const std::string& json) {
    return std::string(",\"") + key + "\":" + json;
}

std::string Field(const char* key, unsigned long number) {
    return Field(key, std::to_string(number));
}

std::string HexJson(unsigned long value) {
    char text[24];
    std::snprintf(text, sizeof text, "\"0x%lx\"", value);
    return text;
}

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

// Most of a DCB's flags are clear: only the fields that are not zero are written.
std::string DcbJson(const DCB& dcb) {
    std::string json = "{\"length\":" + std::to_string(dcb.DCBlength);
    for (const SDcbField& field : DCB_FIELDS) {
        if (unsigned long value = field.get(dcb)) {
            json += Field(field.key, value);
        }
    }
    return json + "}";
}

bool SetDcbField(DCB& dcb, const std::string& key, unsigned long value) {
    if (key == "length") {
        dcb.DCBlength = static_cast<DWORD>(value);
        return true;
    }
    for (const SDcbField& field : DCB_FIELDS) {
        if (key == field.key) {
            field.set(dcb, value);
            return true;
        }
    }
    return false;
}

std::string TimeoutsJson(const COMMTIMEOUTS& timeouts) {
    return "[" + std::to_string(timeouts.ReadIntervalTimeout) + "," +
           std::to_string(timeouts.ReadTotalTimeoutMultiplier) + "," +
           std::to_string(timeouts.ReadTotalTimeoutConstant) + "," +
           std::to_string(timeouts.WriteTotalTimeoutMultiplier) + "," +
           std::to_string(timeouts.WriteTotalTimeoutConstant) + "]";
}

std::string AskedCreateFile(const wchar_t* name, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    return CallStart("CreateFileW") + Field("name", JsonText(AsciiText(name))) +
           Field("access", HexJson(access)) + Field("share", share) + Field("disposition", disposition) +
           Field("flags", flags);
}

std::string AskedOnHandle(const char* call, const std::string& handle) {
    return CallStart(call) + Field("handle", handle);
}

std::string AskedSetCommState(const std::string& handle, const DCB* dcb) {
    return AskedOnHandle("SetCommState", handle) + Field("dcb", dcb ? DcbJson(*dcb) : "null");
}

std::string AskedBuildCommDcb(const wchar_t* definition) {
    return CallStart("BuildCommDCBW") + Field("text", JsonText(AsciiText(definition)));
}

std::string AskedSetupComm(const std::string& handle, DWORD inQueue, DWORD outQueue) {
    return AskedOnHandle("SetupComm", handle) + Field("in", inQueue) + Field("out", outQueue);
}

std::string AskedSetCommTimeouts(const std::string& handle, const COMMTIMEOUTS* timeouts) {
    return AskedOnHandle("SetCommTimeouts", handle) +
           Field("timeouts", timeouts ? TimeoutsJson(*timeouts) : "null");
}

std::string AskedReadFile(const std::string& handle, DWORD toRead) {
    return AskedOnHandle("ReadFile", handle) + Field("toRead", toRead);
}

std::string AskedWriteFile(const std::string& handle, const void* data, DWORD toWrite) {
    return AskedOnHandle("WriteFile", handle) + Field("data", "\"" + BytesHex(data, toWrite) + "\"");
}

std::string AskedSleep(DWORD milliseconds) {
    return CallStart("Sleep") + Field("ms", milliseconds);
}

std::string AskedSystemErrorText(DWORD code) {
    return CallStart("SystemErrorText") + Field("error", code);
}

long CHandleNumbers::Opened(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    m_Numbers[handle] = ++m_Opened;
    return m_Opened;
}

long CHandleNumbers::Of(HANDLE handle) const {
    if (handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    auto found = m_Numbers.find(handle);
    return found != m_Numbers.end() ? found->second : 0;
}

} // namespace tarnos
