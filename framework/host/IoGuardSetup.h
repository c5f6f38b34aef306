// The console host's side of the I/O-port guard (os/IoPortGuard.h): the UART windows the platform reports
// and those --allow-io adds, once, and before each run the window of the port under test. Not used with
// --sim: the simulator has its own port-I/O backend and no guard.
#pragma once

#include "kivu5/kivu5.h"
#include "os/IoPortGuard.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace tarnhost {

// Before anything runs. An --allow-io window that overlaps the kernel console's UART is bad input
// (CHostInputError, exit 2); each other one is allowed with one warning line on warnings.
void ConfigureIoGuard(tarnos::CIoPortGuard& guard, const std::vector<tarnos::UartWindow>& platform,
                      const std::vector<uint32_t>& allowIo, std::FILE* warnings);

// Before each run: the window of the device's IoBaseAddresses[0], when the guard may grant it (reported
// for this device or allowed, never forbidden or the console's); otherwise no window at all. Returns
// whether a window was granted.
bool NarrowIoGuard(tarnos::CIoPortGuard& guard, const kivu5::DiagDevice& device);

} // namespace tarnhost
