#include "os/backends/posix/ComState.h"

#include "os/backends/posix/LastError.h"
#include "os/backends/posix/TermiosDcb.h"

#include <cerrno>

#include <sys/ioctl.h>
#include <termios.h>

namespace tarnos {
namespace posix {
namespace {

// The c_cflag bits of the frame, checked after tcsetattr.
#ifdef CMSPAR
const tcflag_t FRAME_FLAGS = CSIZE | PARENB | PARODD | CSTOPB | CMSPAR;
#else
const tcflag_t FRAME_FLAGS = CSIZE | PARENB | PARODD | CSTOPB;
#endif

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

} // namespace posix
} // namespace tarnos
