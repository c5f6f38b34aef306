// The real port-I/O backend on Linux. This is the one place where an I/O-port guard goes in front of
// /dev/port (an IPortIoBackend that lets through only the UART windows the platform reports and forwards
// to DevPortIo()); until then every port is passed on.
#include "os/OsBackend.h"
#include "os/backends/posix/DevPortIo.h"

namespace tarnos {

IPortIoBackend& RealPortIoBackend() {
    return posix::DevPortIo();
}

} // namespace tarnos
