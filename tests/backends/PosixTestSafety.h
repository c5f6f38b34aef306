// Keeps the Linux backend's tests away from this machine's devices: no COM number falls back to /dev/ttyS*
// (ttyS0 is the console) and the I/O-port file is never /dev/port.
#pragma once

#include "os/backends/posix/ComPortMap.h"
#include "os/backends/posix/DevPortPath.h"

namespace backendtests {

inline void MakePosixBackendsSafe() {
    tarnos::posix::SetDefaultComMapping(false);
    tarnos::posix::ClearComPortMap();
    tarnos::posix::SetDevPortPath("/nonexistent/tarn-tests/no-dev-port");
}

} // namespace backendtests
