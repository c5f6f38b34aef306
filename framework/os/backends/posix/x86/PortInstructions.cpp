// x86 Linux: ioperm(2) and the in/out instructions of glibc's <sys/io.h>.
#include "os/backends/posix/PortInstructions.h"

#include <sys/io.h>

namespace tarnos {
namespace posix {

bool PortInstructionsBuilt() {
    return true;
}

int SystemIoperm(unsigned long from, unsigned long count, int turnOn) {
    return ioperm(from, count, turnOn);
}

unsigned char InByte(unsigned short port) {
    return inb(port);
}

void OutByte(unsigned short port, unsigned char value) {
    outb(value, port);
}

} // namespace posix
} // namespace tarnos
