// The simulated machine: virtual time, the UARTs of a scenario in a 16-bit I/O space, and a virtual OS COM
// driver with what is plugged into each connector. It answers both sides of the platform seam, and changes
// itself in the middle of a session as the scenario's changes say.
#pragma once

#include "os/OsBackend.h"
#include "sim/Scenario.h"
#include "sim/VirtualClock.h" // CVirtualClock

#include <cstdint>
#include <memory>
#include <string>

namespace tarnsim {

class CSimulation : public tarnos::IWin32Backend, public tarnos::IPortIoBackend {
public:
    explicit CSimulation(const Scenario& scenario);
    ~CSimulation() override;

    // Makes this simulation answer the seam (tarnos::SetBackends); the destructor uninstalls it.
    void Install();
    void Uninstall();

    CVirtualClock& Clock();
    const Scenario& GetScenario() const;

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

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace tarnsim
