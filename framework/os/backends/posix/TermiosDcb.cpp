#include "os/backends/posix/TermiosDcb.h"

#include "os/backends/posix/TermiosSpeeds.h"

namespace tarnos {
namespace posix {
namespace {

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

DWORD DcbToTermios(const DCB& dcb, termios* tio) {
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS) {
        return ERROR_INVALID_PARAMETER;
    }
    // As on a 16550 and in Windows' serial driver: 1.5 stop bits only with 5 data bits, 2 only with 6 to 8.
    if ((dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) ||
        (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5)) {
        return ERROR_INVALID_PARAMETER;
    }
#ifndef CMSPAR
    if (dcb.Parity == MARKPARITY || dcb.Parity == SPACEPARITY) {
        return ERROR_INVALID_PARAMETER;
    }
#endif
    speed_t speed = B0;
    if (!SpeedFromRate(dcb.BaudRate, &speed)) {
        return ERROR_INVALID_PARAMETER; // no exact Bxxx: refuse rather than set a neighbouring rate
    }

    termios work = *tio;
    MakeRawTermios(&work);
    work.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    work.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
    work.c_cflag |= SizeFlag(dcb.ByteSize);
    switch (dcb.Parity) {
    case ODDPARITY:
        work.c_cflag |= PARENB | PARODD;
        break;
    case EVENPARITY:
        work.c_cflag |= PARENB;
        break;
#ifdef CMSPAR
    case MARKPARITY:
        work.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case SPACEPARITY:
        work.c_cflag |= PARENB | CMSPAR;
        break;
#endif
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

void TermiosToDcb(const termios& tio, DCB* dcb) {
    dcb->fBinary = 1;
    dcb->BaudRate = RateFromSpeed(cfgetospeed(&tio));
    dcb->ByteSize = SizeBits(tio.c_cflag);
    if ((tio.c_cflag & PARENB) == 0) {
        dcb->Parity = NOPARITY;
    } else {
#ifdef CMSPAR
        if ((tio.c_cflag & CMSPAR) != 0) {
            dcb->Parity = (tio.c_cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
        } else
#endif
        {
            dcb->Parity = (tio.c_cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
        }
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

} // namespace posix
} // namespace tarnos
