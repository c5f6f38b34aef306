// The processor's own port-I/O instructions for the Linux backend (DevPortIo.cpp): ioperm and in/out on
// x86 (x86/PortInstructions.cpp), nothing elsewhere (generic/PortInstructions.cpp); CMakeLists.txt picks
// the file for the target processor, so the backend has no #ifdef.
#pragma once

namespace tarnos {
namespace posix {

// Whether this build has the in/out instructions and ioperm. When false, the others are never called.
bool PortInstructionsBuilt();
// ioperm(2): 0 on success, -1 on failure (errno set).
int SystemIoperm(unsigned long from, unsigned long count, int turnOn);
// The in and out instructions: only for ports that ioperm granted to the calling thread.
unsigned char InByte(unsigned short port);
void OutByte(unsigned short port, unsigned char value);

} // namespace posix
} // namespace tarnos
