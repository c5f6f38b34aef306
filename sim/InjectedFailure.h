// The Win32 calls that a scenario's `os.fail` list can make fail on a port, and the GetLastError code each
// failure leaves, as Windows gives it for a serial port.
#pragma once

#include "os/Win32Types.h"
#include "sim/Scenario.h"

#include <string>
#include <vector>

namespace tarnsim {

// The names `os.fail` accepts, in a fixed order (error messages list them).
const std::vector<const char*>& FailableCalls();

// The GetLastError code of call when failures names it, else ERROR_SUCCESS.
DWORD InjectedFailure(const std::vector<std::string>& failures, SeamCall call);

} // namespace tarnsim
