// A processor without x86 port I/O: no instructions, so every port access goes through /dev/port.
#include "os/linux/Internal.h"

#include <cerrno>

namespace tarnos {

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

} // namespace tarnos
