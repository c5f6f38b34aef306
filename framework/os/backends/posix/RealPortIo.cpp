// The real port-I/O backend on Linux: /dev/port (DevPortIo.cpp) behind the I/O-port guard, the one place
// where the guard goes in front of the file access. Only the window of the port under test, as the host
// grants it from /sys/class/tty (os/IoPortGuard.h), reaches the file.
#include "os/IoPortGuard.h"
#include "os/OsBackend.h"
#include "os/backends/posix/DevPortIo.h"

namespace tarnos {

CIoPortGuard& RealPortIoGuard() {
    static CIoPortGuard guard(posix::DevPortIo());
    return guard;
}

IPortIoBackend& RealPortIoBackend() {
    return RealPortIoGuard();
}

} // namespace tarnos
