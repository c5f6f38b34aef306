// The DCB <-> termios conversion of the Linux backend on its own: the frames a pty cannot carry (it keeps
// 8 data bits and no parity) are checked here on termios records.
#include "os/backends/posix/TermiosDcb.h"

#include <gtest/gtest.h>

namespace {

using tarnos::posix::DcbToTermios;
using tarnos::posix::TermiosToDcb;

DCB Frame(DWORD rate, BYTE bits, BYTE parity, BYTE stop) {
    DCB dcb{};
    dcb.BaudRate = rate;
    dcb.ByteSize = bits;
    dcb.Parity = parity;
    dcb.StopBits = stop;
    return dcb;
}

// A cooked line as a fresh tty has it.
termios CookedLine() {
    termios tio{};
    tio.c_iflag = ICRNL | IXON | ISTRIP;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    tio.c_cflag = CS8 | HUPCL;
    cfsetospeed(&tio, B38400);
    cfsetispeed(&tio, B38400);
    return tio;
}

TEST(PosixTermiosDcbBackend, SevenOddTwoWithParityCheckGivesItsFlagsAndReadsBack) {
    termios tio = CookedLine();
    DCB dcb = Frame(19200, 7, ODDPARITY, TWOSTOPBITS);
    dcb.fParity = 1;
    ASSERT_EQ(DcbToTermios(dcb, &tio), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB),
              static_cast<tcflag_t>(CS7 | PARENB | PARODD | CSTOPB));
    EXPECT_NE(tio.c_iflag & INPCK, 0u);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
    DCB back{};
    TermiosToDcb(tio, &back);
    EXPECT_EQ(back.BaudRate, 19200u);
    EXPECT_EQ(back.ByteSize, 7);
    EXPECT_EQ(back.Parity, ODDPARITY);
    EXPECT_EQ(back.StopBits, TWOSTOPBITS);
    EXPECT_EQ(back.fParity, 1u);
}

TEST(PosixTermiosDcbBackend, FiveBitsMarkParityOneAndAHalfStopBitsUseCmsparAndCstopb) {
    termios tio = CookedLine();
    ASSERT_EQ(DcbToTermios(Frame(1200, 5, MARKPARITY, ONE5STOPBITS), &tio),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB),
              static_cast<tcflag_t>(CS5 | PARENB | PARODD | CMSPAR | CSTOPB));
    DCB back{};
    TermiosToDcb(tio, &back);
    EXPECT_EQ(back.ByteSize, 5);
    EXPECT_EQ(back.Parity, MARKPARITY);
    EXPECT_EQ(back.StopBits, ONE5STOPBITS);
}

TEST(PosixTermiosDcbBackend, SpaceParityIsCmsparWithoutParodd) {
    termios tio = CookedLine();
    ASSERT_EQ(DcbToTermios(Frame(9600, 8, SPACEPARITY, ONESTOPBIT), &tio), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB | CMSPAR));
    DCB back{};
    TermiosToDcb(tio, &back);
    EXPECT_EQ(back.Parity, SPACEPARITY);
}

TEST(PosixTermiosDcbBackend, AnyFrameMakesTheLineRawWithReceiverOnAndModemLinesIgnored) {
    termios tio = CookedLine();
    ASSERT_EQ(DcbToTermios(Frame(9600, 8, NOPARITY, ONESTOPBIT), &tio), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | IXON | ISTRIP | INPCK), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 1);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
}

TEST(PosixTermiosDcbBackend, RefusedFrameLeavesTheTermiosRecordUnchanged) {
    termios tio = CookedLine();
    const termios before = tio;
    EXPECT_EQ(DcbToTermios(Frame(14400, 8, NOPARITY, ONESTOPBIT), &tio),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(DcbToTermios(Frame(9600, 8, NOPARITY, ONE5STOPBITS), &tio),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(tio.c_cflag, before.c_cflag);
    EXPECT_EQ(tio.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&tio), cfgetospeed(&before));
}

} // namespace
