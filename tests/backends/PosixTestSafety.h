// Keeps the Linux backend's tests away from this machine's devices: no COM number falls back to /dev/ttyS*
// (ttyS0 is the console), the I/O-port file is never /dev/port and the I/O-port guard grants nothing.
#pragma once

#include "os/IoPortGuard.h"
#include "os/backends/posix/ComPortMap.h"
#include "os/backends/posix/DevPortPath.h"

namespace backendtests {

inline void MakePosixBackendsSafe() {
    tarnos::posix::SetDefaultComMapping(false);
    tarnos::posix::ClearComPortMap();
    tarnos::posix::SetDevPortPath("/nonexistent/tarn-tests/no-dev-port");
    tarnos::RealPortIoGuard().Reset(); // and no I/O-port window granted
}

} // namespace backendtests
