// The open COM ports of the Linux backend, by Win32 handle: each handle stands for one tty descriptor
// with the Win32 state termios has no room for (the last DCB, the time-outs, the queue sizes).
#pragma once

#include "os/Win32Types.h"

#include <memory>
#include <mutex>
#include <string>

namespace tarnos {
namespace posix {

struct CComPort {
    int m_Fd = -1;
    std::string m_Path;
    std::mutex m_Lock; // guards the fields below
    DCB m_Dcb{};       // the last DCB given to SetCommState (valid when m_DcbSet)
    bool m_DcbSet = false;
    COMMTIMEOUTS m_Timeouts{}; // all 0 at open: no time-outs, as Windows' driver starts
    DWORD m_InQueue = 4096;    // Wine reports 4096 (wine.md); SetupComm replaces them
    DWORD m_OutQueue = 4096;
};

// A new handle for the port: never INVALID_HANDLE_VALUE nor NULL, never reused within the process.
HANDLE AddComPort(std::shared_ptr<CComPort> port);
// The port of a handle, or null for a handle this backend did not give out (or has closed).
std::shared_ptr<CComPort> FindComPort(HANDLE handle);
// Forgets the handle and returns its port (null if unknown).
std::shared_ptr<CComPort> RemoveComPort(HANDLE handle);

} // namespace posix
} // namespace tarnos
