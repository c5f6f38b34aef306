#include "os/backends/posix/CommProperties.h"

#include "os/backends/posix/TermiosSpeeds.h"

#include <cstring>

namespace tarnos {
namespace posix {

void FillCommProperties(DWORD inQueue, DWORD outQueue, COMMPROP* p) {
    std::memset(p, 0, sizeof *p);
    p->wPacketLength = static_cast<WORD>(sizeof *p);
    p->wPacketVersion = 2;
    p->dwServiceMask = SP_SERIALCOMM;
    p->dwMaxTxQueue = 0; // 0: no fixed maximum
    p->dwMaxRxQueue = 0;
    p->dwMaxBaud = BAUD_USER; // rates above 115200 can be set
    p->dwProvSubType = PST_RS232;
    p->dwProvCapabilities = PCF_DTRDSR | PCF_RTSCTS | PCF_TOTALTIMEOUTS | PCF_INTTIMEOUTS;
    p->dwSettableParams = SP_PARITY | SP_BAUD | SP_DATABITS | SP_STOPBITS | SP_HANDSHAKING;
    p->dwSettableBaud = SettableBaudBits();
    p->wSettableData = static_cast<WORD>(DATABITS_5 | DATABITS_6 | DATABITS_7 | DATABITS_8);
    p->wSettableStopParity = static_cast<WORD>(STOPBITS_10 | STOPBITS_15 | STOPBITS_20 | PARITY_NONE |
                                               PARITY_ODD | PARITY_EVEN | PARITY_MARK | PARITY_SPACE);
    p->dwCurrentTxQueue = outQueue;
    p->dwCurrentRxQueue = inQueue;
}

} // namespace posix
} // namespace tarnos
