// x86: ioperm(2) and the in/out instructions of glibc's <sys/io.h>.
#include "os/linux/Internal.h"

#include <sys/io.h>

namespace tarnos {

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

} // namespace tarnos
