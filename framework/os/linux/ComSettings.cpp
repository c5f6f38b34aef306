// A COM port's settings on Linux: the DCB of GetCommState and SetCommState on top of termios, the modem
// lines (TIOCMGET, TIOCMBIS, TIOCMBIC), and GetCommProperties' record with the rates termios can set.
#include "os/SettableRates.h"
#include "os/linux/Internal.h"

#include <cerrno>
#include <cstring>

#include <sys/ioctl.h>

namespace tarnos {
namespace {

struct Speed {
    DWORD rate;
    speed_t speed;
};

// The rates termios can set, each by its Bxxx constant. Only exact rates: a rate with none is refused
// (SetCommState then fails with 87) rather than set to a neighbour. 7200, 14400, 56000 and 128000 have
// none, so their dwSettableBaud bits stay clear, as under Wine.
const Speed SPEEDS[] = {
    {50, B50},           {75, B75},       {110, B110},     {134, B134},     {150, B150},       {200, B200},
    {300, B300},         {600, B600},     {1200, B1200},   {1800, B1800},   {2400, B2400},     {4800, B4800},
    {9600, B9600},       {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

// The dwSettableBaud bits Win32 has for rates outside the table of settable rates. B134 stands for 134.5.
const SettableRate OTHER_WIN32_RATES[] = {
    {75, BAUD_075}, {110, BAUD_110}, {134, BAUD_134_5}, {150, BAUD_150}, {600, BAUD_600}, {1800, BAUD_1800},
};
// Above this rate Win32 has no bit per rate, only BAUD_USER: "other rates can be set too".
const DWORD HIGHEST_NAMED_RATE = 115200;

bool SpeedFromRate(DWORD rate, speed_t* speed) {
    for (const Speed& s : SPEEDS) {
        if (s.rate == rate) {
            *speed = s.speed;
            return true;
        }
    }
    return false;
}

// The rate in bit/s of a Bxxx constant; 0 for B0 or an unknown value. B134 (134.5 baud) reads as 134.
DWORD RateFromSpeed(speed_t speed) {
    for (const Speed& s : SPEEDS) {
        if (s.speed == speed) {
            return s.rate;
        }
    }
    return 0;
}

// The dwSettableBaud bit of one rate termios can set; 0 where Win32 has none (50, 200).
DWORD Win32RateBit(DWORD rate) {
    if (DWORD bit = SettableRateBit(rate)) {
        return bit;
    }
    for (const SettableRate& other : OTHER_WIN32_RATES) {
        if (other.rate == rate) {
            return other.bit;
        }
    }
    return rate > HIGHEST_NAMED_RATE ? BAUD_USER : 0;
}

DWORD SettableBaudBits() {
    DWORD bits = 0;
    for (const Speed& s : SPEEDS) {
        bits |= Win32RateBit(s.rate);
    }
    return bits;
}

tcflag_t SizeFlag(BYTE bits) {
    switch (bits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

BYTE SizeBits(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

// Applies rate, data bits, parity, stop bits and CTS flow of the DCB on top of raw mode. Returns
// ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for a value the line cannot take (tio is then unchanged).
DWORD DcbToTermios(const DCB& dcb, termios* tio) {
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS) {
        return ERROR_INVALID_PARAMETER;
    }
    // As on a 16550 and in Windows' serial driver: 1.5 stop bits only with 5 data bits, 2 only with 6 to 8.
    if ((dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) ||
        (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5)) {
        return ERROR_INVALID_PARAMETER;
    }
    speed_t speed = B0;
    if (!SpeedFromRate(dcb.BaudRate, &speed)) {
        return ERROR_INVALID_PARAMETER;
    }

    termios work = *tio;
    MakeRawTermios(&work);
    work.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CMSPAR | CRTSCTS);
    work.c_cflag |= SizeFlag(dcb.ByteSize);
    switch (dcb.Parity) {
    case ODDPARITY:
        work.c_cflag |= PARENB | PARODD;
        break;
    case EVENPARITY:
        work.c_cflag |= PARENB;
        break;
    case MARKPARITY: // "stick" parity: CMSPAR makes the parity bit a constant, 1 with PARODD
        work.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case SPACEPARITY:
        work.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (dcb.StopBits != ONESTOPBIT) {
        work.c_cflag |= CSTOPB; // with CS5 the UART sends 1.5 stop bits
    }
    // fParity: check received parity; a bad byte is then dropped by the kernel (no PARMRK), as Windows'
    // driver replaces it only when fErrorChar is set.
    if (dcb.fParity && dcb.Parity != NOPARITY) {
        work.c_iflag |= INPCK;
    } else {
        work.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    }
    if (dcb.fOutxCtsFlow) {
        work.c_cflag |= CRTSCTS;
    }
    if (cfsetospeed(&work, speed) != 0 || cfsetispeed(&work, speed) != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    *tio = work;
    return ERROR_SUCCESS;
}

// Sets the fields termios knows (BaudRate, ByteSize, Parity, fParity, StopBits, fOutxCtsFlow, fOutX, fInX,
// XonChar, XoffChar, fBinary); leaves every other field of the DCB as it is.
void TermiosToDcb(const termios& tio, DCB* dcb) {
    dcb->fBinary = 1;
    dcb->BaudRate = RateFromSpeed(cfgetospeed(&tio));
    dcb->ByteSize = SizeBits(tio.c_cflag);
    if ((tio.c_cflag & PARENB) == 0) {
        dcb->Parity = NOPARITY;
    } else if ((tio.c_cflag & CMSPAR) != 0) {
        dcb->Parity = (tio.c_cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
    } else {
        dcb->Parity = (tio.c_cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
    }
    dcb->fParity = (tio.c_iflag & INPCK) != 0;
    if ((tio.c_cflag & CSTOPB) == 0) {
        dcb->StopBits = ONESTOPBIT;
    } else {
        dcb->StopBits = dcb->ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    }
    dcb->fOutxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
    dcb->fOutX = (tio.c_iflag & IXON) != 0;
    dcb->fInX = (tio.c_iflag & IXOFF) != 0;
    dcb->XonChar = static_cast<char>(tio.c_cc[VSTART]);
    dcb->XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
}

// The c_cflag bits of the frame, checked after tcsetattr.
const tcflag_t FRAME_FLAGS = CSIZE | PARENB | PARODD | CSTOPB | CMSPAR;

// No modem lines on this kind of tty (a pty answers ENOTTY, some USB adapters EINVAL).
bool NoModemLines(int error) {
    return error == ENOTTY || error == EINVAL;
}

// Sets or clears one modem-control line; a tty without modem lines is no failure.
bool DriveLine(int fd, int line, bool on) {
    if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0 || NoModemLines(errno)) {
        return true;
    }
    SetLastErrorFromErrno(errno);
    return false;
}

// A DCB as a freshly opened port shows it before any SetCommState (Wine on a pty: DTR and RTS on).
DCB FirstDcb(int fd, const termios& tio) {
    DCB dcb{};
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    int lines = 0;
    if (ioctl(fd, TIOCMGET, &lines) == 0) {
        dcb.fDtrControl = (lines & TIOCM_DTR) != 0 ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        dcb.fRtsControl = (lines & TIOCM_RTS) != 0 ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    }
    if ((tio.c_cflag & CRTSCTS) != 0) {
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    }
    dcb.fTXContinueOnXoff = 1;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    return dcb;
}

} // namespace

void MakeRawTermios(termios* tio) {
    tio->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                           IXOFF | IXANY);
    tio->c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio->c_cflag |= CLOCAL | CREAD;
    // One byte satisfies a read; the descriptor is non-blocking, so an empty line reads as EAGAIN.
    tio->c_cc[VMIN] = 1;
    tio->c_cc[VTIME] = 0;
}

BOOL GetComState(CComPort& port, DCB* dcb) {
    termios tio{};
    if (tcgetattr(port.m_Fd, &tio) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    DCB result{};
    {
        std::lock_guard<std::mutex> lock(port.m_Lock);
        result = port.m_DcbSet ? port.m_Dcb : FirstDcb(port.m_Fd, tio);
    }
    TermiosToDcb(tio, &result);
    result.DCBlength = sizeof(DCB);
    *dcb = result;
    return TRUE;
}

BOOL SetComState(CComPort& port, const DCB& dcb) {
    termios before{};
    if (tcgetattr(port.m_Fd, &before) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    termios tio = before;
    DWORD code = DcbToTermios(dcb, &tio);
    if (code != ERROR_SUCCESS) {
        SetLastErrorCode(code);
        return FALSE;
    }
    if (tcsetattr(port.m_Fd, TCSANOW, &tio) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    // tcsetattr succeeds when any part was taken: read back what the driver may have refused silently
    // (a pty always keeps 8 bits and no parity). Refused: put the line back and fail, as Windows' driver
    // refuses a frame it cannot make.
    termios back{};
    if (tcgetattr(port.m_Fd, &back) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    if (cfgetospeed(&back) != cfgetospeed(&tio) ||
        (back.c_cflag & FRAME_FLAGS) != (tio.c_cflag & FRAME_FLAGS)) {
        tcsetattr(port.m_Fd, TCSANOW, &before);
        SetLastErrorCode(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // DTR handshake and RTS toggle have no termios form: the line is simply held on (the DCB keeps them).
    if (!DriveLine(port.m_Fd, TIOCM_DTR, dcb.fDtrControl != DTR_CONTROL_DISABLE) ||
        !DriveLine(port.m_Fd, TIOCM_RTS, dcb.fRtsControl != RTS_CONTROL_DISABLE)) {
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(port.m_Lock);
    port.m_Dcb = dcb;
    port.m_DcbSet = true;
    return TRUE;
}

BOOL GetComModemStatus(CComPort& port, DWORD* status) {
    int lines = 0;
    if (ioctl(port.m_Fd, TIOCMGET, &lines) != 0) {
        int error = errno;
        *status = 0;
        if (NoModemLines(error)) {
            SetLastErrorFromErrno(error, ERROR_NOT_SUPPORTED);
        } else {
            SetLastErrorFromErrno(error);
        }
        return FALSE;
    }
    DWORD result = 0;
    result |= (lines & TIOCM_CTS) != 0 ? MS_CTS_ON : 0u;
    result |= (lines & TIOCM_DSR) != 0 ? MS_DSR_ON : 0u;
    result |= (lines & TIOCM_RNG) != 0 ? MS_RING_ON : 0u;
    result |= (lines & TIOCM_CAR) != 0 ? MS_RLSD_ON : 0u;
    *status = result;
    return TRUE;
}

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

} // namespace tarnos
