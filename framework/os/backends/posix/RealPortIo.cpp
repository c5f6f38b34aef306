// The real port-I/O backend on Linux: /dev/port (DevPortIo.cpp) behind the I/O-port guard, the one place
// where the guard goes in front of the file access. Only the window of the port under test, as the host
// grants it from /sys/class/tty (os/IoPortGuard.h), reaches the file, or on x86 the in/out instructions
// after ioperm of that window alone.
#include "os/IoPortGuard.h"
#include "os/OsBackend.h"
#include "os/backends/posix/DevPortIo.h"

#include <optional>

namespace tarnos {

CIoPortGuard& RealPortIoGuard() {
    // The guard tells the backend its window: on x86 the backend then opens exactly that window with ioperm
    // (DevPortIo.h). The guard's check still comes first: a refused port reaches no instruction.
    static CIoPortGuard guard(
        posix::DevPortIo(), [](std::optional<uint16_t> window) { posix::DevPortIo().SelectWindow(window); });
    return guard;
}

IPortIoBackend& RealPortIoBackend() {
    return RealPortIoGuard();
}

} // namespace tarnos
