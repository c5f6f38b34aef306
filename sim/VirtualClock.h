// Virtual time: nothing in the simulation ever sleeps for real.
#pragma once

#include "os/Win32Types.h"

#include <cstdint>

namespace tarnsim {

// Virtual time in microseconds. Sleep advances it; GetTickCount reads it in milliseconds (32-bit, wrapping
// as the Windows tick count does); each register access costs 1 microsecond.
class CVirtualClock {
public:
    uint64_t NowUs() const { return m_nowUs; }
    void AdvanceUs(uint64_t us) { m_nowUs += us; }
    // Moves the clock forward to a moment; a moment already past changes nothing.
    void AdvanceTo(uint64_t us) {
        if (us > m_nowUs) {
            m_nowUs = us;
        }
    }
    DWORD TickCount() const { return static_cast<DWORD>(m_nowUs / 1000); }

private:
    uint64_t m_nowUs = 0;
};

} // namespace tarnsim
