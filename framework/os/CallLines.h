// The text of a recording's lines (docs/recording.md), in one place for the call recorder that writes them
// and the replay that compares a run's calls with them. Every call line begins with what was asked (the
// call's name and its arguments) and ends with what came back, so a replay can compare a call by the
// beginning of its line: {"call":"PortWriteByte","port":"0x3fc","value":"0x1f" is what was asked, and
// ,"rc":0} what the I/O port answered.
#pragma once

#include "os/Win32Types.h"

#include <map>
#include <string>

namespace tarnos {

// What a recording's first line says in "version". It changes when a field or line changes meaning:
// 2 added the lines of the framework's inputs ("input"), which repeats count like calls, GetCommTimeouts,
// and the machine's facts in the first line.
const int RECORDING_FORMAT_VERSION = 2;

// {"call":"NAME" and ,"KEY":VALUE, VALUE already JSON.
std::string CallStart(const char* name);
std::string Field(const char* key, const std::string& json);
std::string Field(const char* key, unsigned long number);
std::string HexJson(unsigned long value); // "0x3fd", as a JSON string
std::string JsonText(const std::string& text);
std::string AsciiText(const wchar_t* wide); // the seam's wide texts are ASCII; anything else shows as '?'
std::string BytesHex(const void* bytes, DWORD count);
// A DCB with its fields that are not zero, in the record's order; and back. False when a key is none of
// the DCB's.
std::string DcbJson(const DCB& dcb);
bool SetDcbField(DCB& dcb, const std::string& key, unsigned long value);
// [read interval, read multiplier, read constant, write multiplier, write constant].
std::string TimeoutsJson(const COMMTIMEOUTS& timeouts);

// How each Win32 call's line begins: what the call asked, the handle as its number's JSON. The recorder
// writes these and the replay compares a run's calls with them, so the two can never disagree.
std::string AskedCreateFile(const wchar_t* name, DWORD access, DWORD share, DWORD disposition, DWORD flags);
std::string AskedOnHandle(const char* call, const std::string& handle); // the calls asking a handle only
std::string AskedSetCommState(const std::string& handle, const DCB* dcb);
std::string AskedBuildCommDcb(const wchar_t* definition);
std::string AskedSetupComm(const std::string& handle, DWORD inQueue, DWORD outQueue);
std::string AskedSetCommTimeouts(const std::string& handle, const COMMTIMEOUTS* timeouts);
std::string AskedReadFile(const std::string& handle, DWORD toRead);
std::string AskedWriteFile(const std::string& handle, const void* data, DWORD toWrite);
std::string AskedSleep(DWORD milliseconds);
std::string AskedSystemErrorText(DWORD code);

// A line of one of the framework's inputs to the run: {"input":"KIND","answer":ANSWER}, the answer JSON;
// and how such a line begins.
std::string InputLine(const char* kind, const std::string& answer);
std::string InputStart(const char* kind);

// The busy polls' lines, written without building strings.
extern const char TICK_ASKED[];       // {"call":"GetTickCount"
extern const char DRIVER_ASKED[];     // {"call":"DriverOpened"
extern const char PORT_READ_ASKED[];  // {"call":"PortReadByte","port":"0x%x"  (a printf format)
extern const char PORT_WRITE_ASKED[]; // {"call":"PortWriteByte","port":"0x%x","value":"0x%x"

// Handles as numbers in the order the ports were opened, -1 for INVALID_HANDLE_VALUE, so that recordings
// of the same run compare equal on any machine; 0 for a handle never seen opened.
class CHandleNumbers {
public:
    long Opened(HANDLE handle); // a handle value may come back for another open after a close
    long Of(HANDLE handle) const;
    std::string Json(HANDLE handle) const { return std::to_string(Of(handle)); }

private:
    std::map<HANDLE, long> m_Numbers;
    long m_Opened = 0;
};

} // namespace tarnos
