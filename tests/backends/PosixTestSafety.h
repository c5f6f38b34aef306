// Keeps the Linux backend's tests away from this machine's devices: no COM number falls back to /dev/ttyS*
// (ttyS0 is the console), the I/O-port file is never /dev/port, the I/O-port guard grants nothing, and the
// backend's ioperm is one that refuses (the system's is never called here).
#pragma once

#include "os/IoPortGuard.h"
#include "os/backends/posix/ComPortMap.h"
#include "os/backends/posix/DevPortPath.h"

namespace backendtests {

// Stands in for ioperm(2): refuses, and changes nothing.
inline int RefuseIoperm(unsigned long, unsigned long, int) {
    return -1;
}

inline void MakePosixBackendsSafe() {
    tarnos::posix::SetIopermCall(RefuseIoperm);
    tarnos::posix::SetDefaultComMapping(false);
    tarnos::posix::ClearComPortMap();
    tarnos::posix::SetDevPortPath("/nonexistent/tarn-tests/no-dev-port");
    tarnos::RealPortIoGuard().Reset(); // and no I/O-port window granted
}

} // namespace backendtests
