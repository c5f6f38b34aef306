#include "sim/ComDriver.h"

#include "sim/InjectedFailure.h"
#include "sim/LineTiming.h"

#include <algorithm>
#include <cstring>

namespace tarnsim {
namespace {

const DWORD DEFAULT_IN_QUEUE = 4096; // a Windows serial driver's input buffer before SetupComm
const DWORD DEFAULT_OUT_QUEUE = 0;   // and its output: none, writes go straight to the line
const WORD XON_LIMIT = 2048;
const WORD XOFF_LIMIT = 512;
const char XON = 0x11;
const char XOFF = 0x13;
const WORD COMMPROP_VERSION = 2;

// The checks SetCommState makes on a frame, as a Windows serial driver refuses it.
bool ValidFrame(const DCB& dcb) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.StopBits > TWOSTOPBITS) {
        return false;
    }
    // 1.5 stop bits only with 5 data bits, 2 stop bits never with 5.
    return dcb.ByteSize == 5 ? dcb.StopBits != TWOSTOPBITS : dcb.StopBits != ONE5STOPBITS;
}

} // namespace

CComDriver::CComDriver(const OsConfig& os, const AttachedConfig& attached, CVirtualClock& clock)
    : m_os(os), m_clock(clock), m_attached(attached), m_inQueue(DEFAULT_IN_QUEUE),
      m_outQueue(DEFAULT_OUT_QUEUE) {
    // The driver's power-on state: the configured rate, 8N1, binary, DTR and RTS on.
    std::memset(&m_dcb, 0, sizeof m_dcb);
    m_dcb.DCBlength = sizeof(DCB);
    m_dcb.BaudRate = os.baud;
    m_dcb.fBinary = 1;
    m_dcb.fDtrControl = DTR_CONTROL_ENABLE;
    m_dcb.fRtsControl = RTS_CONTROL_ENABLE;
    m_dcb.XonLim = XON_LIMIT;
    m_dcb.XoffLim = XOFF_LIMIT;
    m_dcb.ByteSize = 8;
    m_dcb.Parity = NOPARITY;
    m_dcb.StopBits = ONESTOPBIT;
    m_dcb.XonChar = XON;
    m_dcb.XoffChar = XOFF;
    m_rx.SetCapacity(m_inQueue);
}

DWORD CComDriver::InjectedFailure(SeamCall call) const {
    return tarnsim::InjectedFailure(m_os.fail, call);
}

// The DCB, queue sizes and time-outs live in the driver and survive a close, as on Windows; what was on its
// way to the port before this open is not received.
DWORD CComDriver::Open() {
    if (m_open) {
        return ERROR_ACCESS_DENIED; // a COM port is opened exclusively
    }
    m_open = true;
    m_rx.Clear();
    m_attached.PortOpened();
    return ERROR_SUCCESS;
}

void CComDriver::Close() {
    m_open = false;
    m_rx.Clear();
}

DWORD CComDriver::GetState(DCB* dcb) {
    if (dcb == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *dcb = m_dcb;
    dcb->DCBlength = sizeof(DCB);
    return ERROR_SUCCESS;
}

DWORD CComDriver::SetState(const DCB* dcb) {
    if (dcb == nullptr || !ValidFrame(*dcb) ||
        std::find(m_os.failConfigureAt.begin(), m_os.failConfigureAt.end(), dcb->BaudRate) !=
            m_os.failConfigureAt.end()) {
        return ERROR_INVALID_PARAMETER;
    }
    m_dcb = *dcb;
    m_dcb.DCBlength = sizeof(DCB);
    m_attached.NewPass();
    return ERROR_SUCCESS;
}

DWORD CComDriver::Setup(DWORD inQueue, DWORD outQueue) {
    if (inQueue == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    m_rx.Sync(m_clock.NowUs()); // bytes already arrived were kept under the old size
    m_inQueue = inQueue;
    m_outQueue = outQueue;
    m_rx.SetCapacity(inQueue);
    return ERROR_SUCCESS;
}

// Kept, to be read back; reads and writes behave as the time-outs every test sets ask for (see Read and
// Write).
DWORD CComDriver::SetTimeouts(const COMMTIMEOUTS* timeouts) {
    if (timeouts == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    m_timeouts = *timeouts;
    return ERROR_SUCCESS;
}

DWORD CComDriver::GetTimeouts(COMMTIMEOUTS* timeouts) const {
    if (timeouts == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *timeouts = m_timeouts;
    return ERROR_SUCCESS;
}

// A read returns at once with the bytes that have arrived, as the time-outs every test sets ask for
// (ReadIntervalTimeout MAXDWORD, both read totals 0). Other read time-outs are not modelled.
DWORD CComDriver::Read(void* buffer, DWORD toRead, DWORD* read) {
    m_rx.Sync(m_clock.NowUs());
    *read = static_cast<DWORD>(m_rx.Take(static_cast<uint8_t*>(buffer), toRead));
    return ERROR_SUCCESS;
}

// Synchronous: the call returns when the accepted bytes have left at the DCB's rate and frame. The write
// time-out the tests set (one second) is longer than 8 bytes take at any rate they can set, so it never
// ends a write and is not modelled.
DWORD CComDriver::Write(const void* buffer, DWORD toWrite, DWORD* written) {
    const AttachedConfig& attached = m_attached.Config();
    DWORD accepted = attached.acceptPerWrite ? std::min<DWORD>(toWrite, *attached.acceptPerWrite) : toWrite;
    const CLineTiming line = CLineTiming::FromDcb(m_dcb);
    const uint64_t start = m_clock.NowUs();
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    for (DWORD i = 0; i < accepted; ++i) {
        m_attached.Hear(bytes[i], start + line.TimeForChars(i + 1), line, m_rx);
    }
    m_clock.AdvanceUs(line.TimeForChars(accepted));
    *written = accepted;
    return ERROR_SUCCESS;
}

// DTR and RTS follow the DCB: ENABLE and HANDSHAKE are on, DISABLE off; RTS TOGGLE is off, as the line
// is idle whenever the status can be read.
DWORD CComDriver::ModemStatus(DWORD* status) const {
    if (status == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const bool dtr = m_dcb.fDtrControl == DTR_CONTROL_ENABLE || m_dcb.fDtrControl == DTR_CONTROL_HANDSHAKE;
    const bool rts = m_dcb.fRtsControl == RTS_CONTROL_ENABLE || m_dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    *status = m_attached.ModemStatus(dtr, rts);
    return ERROR_SUCCESS;
}

DWORD CComDriver::Properties(COMMPROP* properties) const {
    if (properties == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::memset(properties, 0, sizeof *properties);
    properties->wPacketLength = sizeof(COMMPROP);
    properties->wPacketVersion = COMMPROP_VERSION;
    properties->dwServiceMask = SP_SERIALCOMM;
    properties->dwMaxTxQueue = 0; // 0: no maximum, as Windows' serial driver reports
    properties->dwMaxRxQueue = 0;
    properties->dwMaxBaud = BAUD_USER;
    properties->dwProvSubType = m_os.provSubType;
    properties->dwProvCapabilities = PCF_DTRDSR | PCF_RTSCTS | PCF_TOTALTIMEOUTS | PCF_INTTIMEOUTS;
    properties->dwSettableParams = SP_PARITY | SP_BAUD | SP_DATABITS | SP_STOPBITS | SP_HANDSHAKING;
    properties->dwSettableBaud = m_os.settableBaud;
    properties->wSettableData = DATABITS_5 | DATABITS_6 | DATABITS_7 | DATABITS_8;
    properties->wSettableStopParity = STOPBITS_10 | STOPBITS_15 | STOPBITS_20 | PARITY_NONE | PARITY_ODD |
                                      PARITY_EVEN | PARITY_MARK | PARITY_SPACE;
    properties->dwCurrentTxQueue = m_outQueue;
    properties->dwCurrentRxQueue = m_inQueue;
    return ERROR_SUCCESS;
}

} // namespace tarnsim
