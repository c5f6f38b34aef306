#include "os/backends/posix/TermiosSpeeds.h"

namespace tarnos {
namespace posix {
namespace {

struct Speed {
    DWORD rate;
    speed_t speed;
    DWORD bit; // BAUD_* of COMMPROP's dwSettableBaud, 0 where Win32 has none
};

// 7200, 14400, 56000 and 128000 have no Bxxx: their bits stay clear (as under Wine, wine.md).
const Speed SPEEDS[] = {
    {50, B50, 0},
    {75, B75, BAUD_075},
    {110, B110, BAUD_110},
    {134, B134, BAUD_134_5},
    {150, B150, BAUD_150},
    {200, B200, 0},
    {300, B300, BAUD_300},
    {600, B600, BAUD_600},
    {1200, B1200, BAUD_1200},
    {1800, B1800, BAUD_1800},
    {2400, B2400, BAUD_2400},
    {4800, B4800, BAUD_4800},
    {9600, B9600, BAUD_9600},
    {19200, B19200, BAUD_19200},
    {38400, B38400, BAUD_38400},
    {57600, B57600, BAUD_57600},
    {115200, B115200, BAUD_115200},
#ifdef B230400
    {230400, B230400, BAUD_USER},
#endif
#ifdef B460800
    {460800, B460800, BAUD_USER},
#endif
#ifdef B500000
    {500000, B500000, BAUD_USER},
#endif
#ifdef B576000
    {576000, B576000, BAUD_USER},
#endif
#ifdef B921600
    {921600, B921600, BAUD_USER},
#endif
#ifdef B1000000
    {1000000, B1000000, BAUD_USER},
#endif
#ifdef B1152000
    {1152000, B1152000, BAUD_USER},
#endif
#ifdef B1500000
    {1500000, B1500000, BAUD_USER},
#endif
#ifdef B2000000
    {2000000, B2000000, BAUD_USER},
#endif
#ifdef B2500000
    {2500000, B2500000, BAUD_USER},
#endif
#ifdef B3000000
    {3000000, B3000000, BAUD_USER},
#endif
#ifdef B3500000
    {3500000, B3500000, BAUD_USER},
#endif
#ifdef B4000000
    {4000000, B4000000, BAUD_USER},
#endif
};

} // namespace

bool SpeedFromRate(DWORD rate, speed_t* speed) {
    for (const Speed& s : SPEEDS) {
        if (s.rate == rate) {
            *speed = s.speed;
            return true;
        }
    }
    return false;
}

DWORD RateFromSpeed(speed_t speed) {
    for (const Speed& s : SPEEDS) {
        if (s.speed == speed) {
            return s.rate;
        }
    }
    return 0;
}

DWORD SettableBaudBits() {
    DWORD bits = 0;
    for (const Speed& s : SPEEDS) {
        bits |= s.bit;
    }
    return bits;
}

} // namespace posix
} // namespace tarnos
