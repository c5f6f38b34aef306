// Shared helpers of the Part 5 suites (tarn_tests_diagnostics): the fixture on the simulator, readable
// forms of the body's part of the call trace, a scripted UART for register values that no scenario gives,
// and the friend window on CSerialPortTest's private members.
#pragma once

// gtest's FAIL() macro would swallow kivu5::TestResult::FAIL(); GTEST_FAIL() stays available.
#ifndef GTEST_DONT_DEFINE_FAIL
#define GTEST_DONT_DEFINE_FAIL 1
#endif

// The simulator's and the fixtures' headers come first: the module's headers bring os/Win32.h, which
// turns the Win32 names into macros of the seam (CreateFileW -> tarnos::CreateFileW), so every class that
// declares members of those names (the simulation, the backend doubles below) is seen before it.
#include "kivu5/Framework.h"
#include "os/CallTrace.h"
#include "os/OsBackend.h"
#include "sim/Devices.h"
#include "sim/Scenario.h"
#include "sim/Simulation.h"
#include "support/SimFixture.h"
#include "support/Timeline.h"
#include "uart/SerialReg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarndiag {

// A UART whose eight registers read fixed values (for register patterns that no scenario model gives).
// Reads outside the eight registers read 0xFF, as an I/O address that no UART answers; writes are kept.
class CScriptedUart : public tarnos::IPortIoBackend {
public:
    CScriptedUart(unsigned short base, std::array<uint8_t, 8> values) : m_base(base), m_values(values) {}
    // A read of this offset fails in the library (nonzero code) after storing the value.
    void FailReadOf(int offset) { m_failing[offset] = true; }

    bool DriverOpen() override { return true; }
    int ReadByte(unsigned short port, unsigned char* value) override {
        if (port < m_base || port >= m_base + 8) {
            *value = 0xFF;
            return 0;
        }
        int offset = port - m_base;
        *value = m_values[static_cast<size_t>(offset)];
        return m_failing[static_cast<size_t>(offset)] ? 1 : 0;
    }
    int WriteByte(unsigned short port, unsigned char value) override {
        m_writes.push_back({port, value});
        return 0;
    }
    const std::vector<std::pair<unsigned short, unsigned char>>& Writes() const { return m_writes; }

private:
    unsigned short m_base;
    std::array<uint8_t, 8> m_values;
    std::array<bool, 8> m_failing = {};
    std::vector<std::pair<unsigned short, unsigned char>> m_writes;
};

// A Win32 backend that forwards everything to the simulation but hands back every ReadFile's bytes as
// zeros (the count unchanged): a device that answers with zero bytes.
class CZeroReplyWin32 : public tarnos::IWin32Backend {
public:
    explicit CZeroReplyWin32(tarnos::IWin32Backend& inner) : m_inner(inner) {}
    HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override {
        return m_inner.CreateFileW(name, access, share, security, disposition, flags, templateFile);
    }
    BOOL CloseHandle(HANDLE handle) override { return m_inner.CloseHandle(handle); }
    BOOL GetCommState(HANDLE handle, DCB* dcb) override { return m_inner.GetCommState(handle, dcb); }
    BOOL SetCommState(HANDLE handle, DCB* dcb) override { return m_inner.SetCommState(handle, dcb); }
    BOOL BuildCommDCBW(LPCWSTR definition, DCB* dcb) override {
        return m_inner.BuildCommDCBW(definition, dcb);
    }
    BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) override {
        return m_inner.SetupComm(handle, inQueue, outQueue);
    }
    BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override {
        return m_inner.SetCommTimeouts(handle, timeouts);
    }
    BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                  LPOVERLAPPED overlapped) override {
        BOOL ok = m_inner.ReadFile(handle, buffer, toRead, read, overlapped);
        if (ok && read != nullptr && buffer != nullptr) {
            std::memset(buffer, 0, *read);
        }
        return ok;
    }
    BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                   LPOVERLAPPED overlapped) override {
        return m_inner.WriteFile(handle, buffer, toWrite, written, overlapped);
    }
    BOOL GetCommModemStatus(HANDLE handle, LPDWORD status) override {
        return m_inner.GetCommModemStatus(handle, status);
    }
    BOOL GetCommProperties(HANDLE handle, LPCOMMPROP properties) override {
        return m_inner.GetCommProperties(handle, properties);
    }
    DWORD GetLastError() override { return m_inner.GetLastError(); }
    void Sleep(DWORD milliseconds) override { m_inner.Sleep(milliseconds); }
    DWORD GetTickCount() override { return m_inner.GetTickCount(); }
    std::string SystemErrorText(DWORD code) override { return m_inner.SystemErrorText(code); }

private:
    tarnos::IWin32Backend& m_inner;
};

// The built-in port: COM1 at the standard I/O base 0x3F8.
const unsigned short COM1_BASE = 0x3F8;

// Part 4.2's rate table: the dwSettableBaud bit of each of the twelve known rates.
inline uint32_t SettableBit(uint32_t rate) {
    static const std::map<uint32_t, uint32_t> bits = {
        {300, BAUD_300},   {1200, BAUD_1200},   {2400, BAUD_2400},     {4800, BAUD_4800},
        {9600, BAUD_9600}, {14400, BAUD_14400}, {19200, BAUD_19200},   {38400, BAUD_38400},
        {56000, BAUD_56K}, {57600, BAUD_57600}, {115200, BAUD_115200}, {128000, BAUD_128K}};
    return bits.at(rate);
}

inline uint32_t SettableMask(std::initializer_list<uint32_t> rates) {
    uint32_t mask = 0;
    for (uint32_t rate : rates) {
        mask |= SettableBit(rate);
    }
    return mask;
}

// Register operations as the body's trace shows them: "R 0x3FD" (value left out), "R 0x3FD -> 0x60",
// "W 0x3FB <- 0x87". Offsets are from COM1_BASE.
inline std::string Addr(int offset) {
    return tarnos::Hex(static_cast<uint64_t>(COM1_BASE + offset));
}
inline std::string R(int offset) {
    return "R " + Addr(offset);
}
inline std::string RV(int offset, unsigned value) {
    return R(offset) + " -> " + tarnos::Hex(value);
}
inline std::string W(int offset, unsigned value) {
    return "W " + Addr(offset) + " <- " + tarnos::Hex(value);
}
inline std::string SleepOp(unsigned ms) {
    return "Sleep(" + std::to_string(ms) + ")";
}

// One trace entry in readable form. Register reads carry their value only when asked; the Win32 calls
// that take a handle show their other arguments only (the handle's value is the simulator's business).
inline std::string Op(const tarnos::TraceEntry& e, bool readValues) {
    if (e.call == "PortReadByte") {
        std::string text = "R " + e.args.at(0);
        if (readValues) {
            size_t blank = e.result.find(' ');
            text += " -> " + (blank == std::string::npos ? std::string("fail") : e.result.substr(blank + 1));
        }
        return text;
    }
    if (e.call == "PortWriteByte") {
        return "W " + e.args.at(0) + " <- " + e.args.at(1);
    }
    static const std::vector<std::string> withoutHandle = {"CreateFileW", "GetLastError", "Sleep",
                                                           "GetTickCount"};
    size_t first = 0;
    if (std::find(withoutHandle.begin(), withoutHandle.end(), e.call) == withoutHandle.end()) {
        first = 1;
    }
    std::string text = e.call + "(";
    for (size_t i = first; i < e.args.size(); ++i) {
        text += (i > first ? ", " : "") + e.args[i];
    }
    text += ")";
    if (!e.result.empty()) {
        text += " -> " + e.result;
    }
    return text;
}

} // namespace tarndiag

// The module's headers, last (see above).
#include "SerialPort.h"
#include "SerialPortTest.h"
#include "tarnserialport.h"

// The window on the private members of the test object (declared a friend in SerialPortTest.h). Defined
// once, inline, for every file of this program.
class CSerialPortTestAccess {
public:
    explicit CSerialPortTestAccess(CSerialPortTest& test) : m_test(test) {}
    bool LoadBaudRates(CSerialPort& port) { return m_test.LoadBaudRates(port); }
    void ValidateBaudRates(CSerialPort& port, const CBaudRateList& list) {
        m_test.ValidateBaudRates(port, list);
    }
    const CBaudRateList& BaudRates() const { return m_test.m_BaudRates; }
    kivu5::TestResult SendAndReceiveAtBaudRate(CSerialPort& port, unsigned rate, unsigned char divisor) {
        return m_test.SendAndReceiveAtBaudRate(port, rate, divisor);
    }
    bool CheckLineStatusErrors(CSerialPort& port) { return m_test.CheckLineStatusErrors(port); }

private:
    CSerialPortTest& m_test;
};

namespace tarndiag {

// The adapter prompt of Parts 5.4 and 5.6 as Describe shows it, answered OK or 150.
const char* const PROMPT_OK =
    "prompt 10 option=40 look=80 nulls source=FROM_SETTINGS_FILE timeout=2000 modal -> 100";
const char* const PROMPT_CANCEL =
    "prompt 10 option=40 look=80 nulls source=FROM_SETTINGS_FILE timeout=2000 modal -> 150";

// The event and the log line of each rejected entry of Part 5.5 (BaudRateIndex: the entry's 0-based
// position in the list validated, the decision documented in the module and docs/decisions.md).
// Parts 5.4 step 2 and 5.6 step 1: the adapter prompt with exactly its arguments (type 10, the
// ConnectAdapterPrompt text, the asking test's localized name, 40, 80, three nulls, FROM_SETTINGS_FILE(),
// 2000, true).
inline void ExpectAdapterPromptArguments(const kivu5::TimelineEntry& p, const char* testName) {
    EXPECT_EQ(p.type, 10);
    EXPECT_EQ(p.text, kivu5::Framework::findLocalizedString("ConnectAdapterPrompt")->localizedString().str());
    EXPECT_EQ(p.caption, kivu5::Framework::findTest(testName)->localizedName().str());
    EXPECT_EQ(p.option, 40);
    EXPECT_EQ(p.lookAndFeel, 80);
    EXPECT_TRUE(p.nullDetails);
    EXPECT_TRUE(p.nullCallback);
    EXPECT_TRUE(p.nullContext);
    EXPECT_EQ(p.answerSource, kivu5::FROM_SETTINGS_FILE());
    EXPECT_EQ(p.timeout, 2000u);
    EXPECT_TRUE(p.modal);
}

inline std::vector<std::string> Invalids(std::initializer_list<int> indices) {
    std::vector<std::string> lines;
    for (int index : indices) {
        lines.push_back("event error InvalidBaudRateConfig {BaudRateIndex:int=" + std::to_string(index) +
                        "}");
        lines.push_back("log 4 Invalid baud rate found in configuration file at baud rate index: " +
                        std::to_string(index));
    }
    return lines;
}

class DiagTest : public tarntest::SimTest {
protected:
    void TearDown() override {
        tarntest::SimTest::TearDown();
        tarnos::SetBackends(nullptr, nullptr);
    }

    // What the module said, without the trace lines of its trace scopes.
    static std::vector<std::string> Said(const kivu5::RunOutcome& outcome) {
        return tarntest::Describe(outcome.timeline, {"event", "progress", "percent", "log", "prompt"});
    }

    // The dispatcher's frame around a body on COM1 (Part 3.1, steps 5, 7 and 14).
    static std::vector<std::string> Framed(const std::vector<std::string>& body) {
        std::vector<std::string> lines = {"log 1 ==>PORT NUMBER: 1",
                                          "progress ValidityCheck {PortNumber:text=COM1}", "percent 0"};
        lines.insert(lines.end(), body.begin(), body.end());
        lines.push_back("progress TestComplete {PortNumber:text=COM1}");
        lines.push_back("percent 100");
        return lines;
    }

    // The trace entries after the dispatcher's Open (the last CreateFileW of the run: the screens open and
    // close before it, the bodies never open), of these calls only (all but DriverOpened when empty).
    static std::vector<tarnos::TraceEntry> BodyEntries(const std::vector<std::string>& calls = {}) {
        const std::vector<tarnos::TraceEntry>& all = tarnos::CallTrace::Instance().Entries();
        size_t start = 0;
        for (size_t i = 0; i < all.size(); ++i) {
            if (all[i].call == "CreateFileW") {
                start = i + 1;
            }
        }
        std::vector<tarnos::TraceEntry> out;
        for (size_t i = start; i < all.size(); ++i) {
            const tarnos::TraceEntry& e = all[i];
            bool wanted = calls.empty() ? e.call != "DriverOpened"
                                        : std::find(calls.begin(), calls.end(), e.call) != calls.end();
            if (wanted) {
                out.push_back(e);
            }
        }
        return out;
    }

    static std::vector<std::string> BodyOps(const std::vector<std::string>& calls, bool readValues = false) {
        std::vector<std::string> out;
        for (const tarnos::TraceEntry& e : BodyEntries(calls)) {
            out.push_back(Op(e, readValues));
        }
        return out;
    }

    // The register accesses of the body (and the pauses when asked).
    static std::vector<std::string> BodyRegisterOps(bool readValues = false, bool withSleeps = false) {
        std::vector<std::string> calls = {"PortReadByte", "PortWriteByte"};
        if (withSleeps) {
            calls.push_back("Sleep");
        }
        return BodyOps(calls, readValues);
    }

    // The Win32 calls of the body, in order (the calls the module makes through Part 4.2 and Sleep).
    static std::vector<std::string> BodyWin32Ops() {
        return BodyOps({"CloseHandle", "GetCommState", "SetCommState", "BuildCommDCBW", "SetupComm",
                        "SetCommTimeouts", "ReadFile", "WriteFile", "GetCommModemStatus", "GetCommProperties",
                        "GetLastError", "Sleep"});
    }

    // The names of the Win32 calls of the body, in order (without Sleep).
    static std::vector<std::string> BodyCallNames() {
        std::vector<std::string> names;
        for (const tarnos::TraceEntry& e :
             BodyEntries({"CloseHandle", "GetCommState", "SetCommState", "BuildCommDCBW", "SetupComm",
                          "SetCommTimeouts", "ReadFile", "WriteFile", "GetCommModemStatus",
                          "GetCommProperties", "GetLastError"})) {
            names.push_back(e.call);
        }
        return names;
    }

    // The rate of every Configure of the body: the texts given to BuildCommDCBW ("baud=9600 ...").
    static std::vector<unsigned> BodyConfiguredRates() {
        std::vector<unsigned> rates;
        for (const tarnos::TraceEntry& e : BodyEntries({"BuildCommDCBW"})) {
            const std::string& text = e.args.at(0);
            size_t at = text.find("baud=");
            rates.push_back(static_cast<unsigned>(std::stoul(text.substr(at + 5))));
        }
        return rates;
    }

    static void ClearTrace() { tarnos::CallTrace::Instance().Clear(); }
    // Long runs (millions of register polls) run with the trace off; the timeline still records.
    static void TraceOff() { tarnos::CallTrace::Instance().Enable(false); }

    // Runs an action when the Nth CreateFileW of the run is made (1: the dispatcher's Open of an internal
    // test; 3: the dispatcher's Open of an external test, after the two screens). The hook also counts the
    // Win32 calls by name, which works with the trace off.
    void AtOpen(unsigned nth, std::function<void()> action) {
        m_openActions[nth] = std::move(action);
        InstallHook();
    }
    void CountWin32Calls() { InstallHook(); }
    unsigned Win32Calls(const std::string& name) const {
        auto it = m_callCounts.find(name);
        return it == m_callCounts.end() ? 0u : it->second;
    }

    // The prompts of a run, as recorded.
    static std::vector<kivu5::TimelineEntry> Prompts(const kivu5::RunOutcome& outcome) {
        std::vector<kivu5::TimelineEntry> out;
        for (const kivu5::TimelineEntry& e : outcome.timeline) {
            if (e.kind == kivu5::TimelineEntry::Prompt) {
                out.push_back(e);
            }
        }
        return out;
    }

private:
    void InstallHook() {
        if (m_hookInstalled) {
            return;
        }
        m_hookInstalled = true;
        Sim().SetCallHook([this](const std::string& call, size_t) {
            if (call == "GetTickCount") {
                return;
            }
            ++m_callCounts[call];
            if (call == "CreateFileW") {
                auto it = m_openActions.find(m_callCounts[call]);
                if (it != m_openActions.end()) {
                    it->second();
                }
            }
        });
    }

    bool m_hookInstalled = false;
    std::map<unsigned, std::function<void()>> m_openActions;
    std::map<std::string, unsigned> m_callCounts;
};

} // namespace tarndiag
