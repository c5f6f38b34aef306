// The simulated machine: virtual time, the UARTs of a scenario in a 16-bit I/O space, and a virtual OS COM
// driver with what is plugged into each connector. It answers both sides of the platform seam.
#pragma once

#include "os/OsBackend.h"
#include "sim/Scenario.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tarnsim {

// Virtual time in microseconds. Sleep advances it; GetTickCount reads it in milliseconds (32-bit, wrapping,
// starting at tickOrigin so tests can place a wrap anywhere); each register access costs 1 microsecond.
class CVirtualClock {
public:
    uint64_t NowUs() const { return m_nowUs; }
    void AdvanceUs(uint64_t us) { m_nowUs += us; }
    DWORD TickCount() const { return static_cast<DWORD>(m_tickOrigin + m_nowUs / 1000); }
    void SetTickOrigin(DWORD origin) { m_tickOrigin = origin; }

private:
    uint64_t m_nowUs = 0;
    DWORD m_tickOrigin = 0;
};

class CSimulation : public tarnos::IWin32Backend, public tarnos::IPortIoBackend {
public:
    explicit CSimulation(const Scenario& scenario);
    ~CSimulation() override;

    // Makes this simulation answer the seam (tarnos::SetBackends); the destructor uninstalls it.
    void Install();
    void Uninstall();

    CVirtualClock& Clock();
    const Scenario& GetScenario() const;

    // Live knobs, for faults in the middle of a test: the same fields as the scenario, read at every access.
    void SetDriverInstalled(bool installed);
    UartConfig& Uart(size_t portIndex);
    OsConfig& Os(size_t portIndex);
    AttachedConfig& Attached(size_t portIndex);
    // The device is gone (a USB adapter pulled out): every call on its open handle fails from now on.
    void Disconnect(size_t portIndex);
    // Called before every Win32 call the simulation answers, with the call's name and the port's index.
    void SetCallHook(std::function<void(const std::string& call, size_t portIndex)> hook);

    // Inspection for tests.
    unsigned OpenHandleCount() const;
    uint8_t UartRegister(size_t portIndex, int offset) const; // the register's value, without side effects
    uint32_t CurrentBaud(size_t portIndex) const;             // the COM driver's rate

    // IWin32Backend
    HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                       DWORD flags, HANDLE templateFile) override;
    BOOL CloseHandle(HANDLE handle) override;
    BOOL GetCommState(HANDLE handle, DCB* dcb) override;
    BOOL SetCommState(HANDLE handle, DCB* dcb) override;
    BOOL BuildCommDCBW(LPCWSTR definition, DCB* dcb) override;
    BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) override;
    BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override;
    BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) override;
    BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) override;
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

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace tarnsim
