// Linux on a processor without x86 port I/O: no instructions, so the backend always uses /dev/port.
#include "os/backends/posix/PortInstructions.h"

#include <cerrno>

namespace tarnos {
namespace posix {

bool PortInstructionsBuilt() {
    return false;
}

int SystemIoperm(unsigned long, unsigned long, int) {
    errno = ENOSYS;
    return -1;
}

unsigned char InByte(unsigned short) {
    return 0xFF;
}

void OutByte(unsigned short, unsigned char) {}

} // namespace posix
} // namespace tarnos
