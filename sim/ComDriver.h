// The operating system's COM driver of one port, as the Win32 serial calls see it: the DCB, queues and
// time-outs it keeps, the bytes it sends and receives in virtual time, the modem lines through what is
// plugged in, and the failures the scenario's OsConfig injects. Each operation returns the Win32
// error code of its failure, 0 on success; CSimulation maps handles and keeps the last error.
#pragma once

#include "os/Win32Types.h"
#include "sim/Attached.h"
#include "sim/ReceiveQueue.h"
#include "sim/Scenario.h"
#include "sim/VirtualClock.h"

#include <cstdint>

namespace tarnsim {

class CComDriver {
public:
    // os and attached are the port's config; they and the clock must outlive the driver.
    CComDriver(const OsConfig& os, const AttachedConfig& attached, CVirtualClock& clock);

    // The error of this call when the port's `fail` list names it (InjectedFailure.h), else 0.
    DWORD InjectedFailure(SeamCall call) const;

    DWORD Open();
    void Close();
    DWORD GetState(DCB* dcb);
    DWORD SetState(const DCB* dcb);
    DWORD Setup(DWORD inQueue, DWORD outQueue);
    DWORD SetTimeouts(const COMMTIMEOUTS* timeouts);
    DWORD GetTimeouts(COMMTIMEOUTS* timeouts) const;
    DWORD Read(void* buffer, DWORD toRead, DWORD* read);
    DWORD Write(const void* buffer, DWORD toWrite, DWORD* written);
    DWORD ModemStatus(DWORD* status) const;
    DWORD Properties(COMMPROP* properties) const;

private:
    const OsConfig& m_os;
    CVirtualClock& m_clock;
    CAttachedDevice m_attached;
    CReceiveQueue m_rx;
    DCB m_dcb;
    COMMTIMEOUTS m_timeouts{}; // all 0 until set: no time-outs, as a Windows driver starts
    DWORD m_inQueue;
    DWORD m_outQueue;
    bool m_open = false;
};

} // namespace tarnsim
