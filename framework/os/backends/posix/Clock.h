// Real time for the Linux backend: Win32's Sleep and GetTickCount, and the clock of the I/O time-outs.
#pragma once

#include <cstdint>

namespace tarnos {
namespace posix {

// Milliseconds of CLOCK_MONOTONIC: never jumps with the wall clock, so deadlines and tick counts hold.
uint64_t MonotonicMilliseconds();
uint64_t MonotonicNanoseconds();

// Sleeps the whole time, even when a signal interrupts it (Win32's Sleep is not cut short), and wakes close
// to the deadline (PreciseSleep.h). 0 yields the processor, as Win32's Sleep(0).
void SleepMilliseconds(uint32_t milliseconds);

} // namespace posix
} // namespace tarnos
