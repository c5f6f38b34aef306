// The Linux backend's DCB on top of termios, SetupComm, GetCommProperties and GetCommModemStatus on a pty.
#include "PosixComFixture.h"

#include <cstring>

namespace backendtests {
namespace {

using PosixComStateBackend = CPosixComFixture;

// Puts the pty's line to 38400 8N2 in cooked mode, so that every setting the tests look for must have been
// made by the backend. (A pty keeps 8 data bits and no parity whatever is asked: Linux's pty driver.)
void PresetSlaveTo38400_8N2Cooked(const CPtyPair& pty) {
    termios tio = pty.SlaveTermios();
    tio.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
    tio.c_cflag |= CSTOPB;
    tio.c_lflag |= ICANON | ECHO | ISIG;
    tio.c_oflag |= OPOST;
    tio.c_iflag |= ICRNL | IXON;
    cfsetospeed(&tio, B38400);
    cfsetispeed(&tio, B38400);
    tcsetattr(pty.Slave(), TCSANOW, &tio);
}

TEST_F(PosixComStateBackend, ConfigureSequenceLeavesTheLineAt9600_8N1Raw) {
    PresetSlaveTo38400_8N2Cooked(m_Pty);
    OpenPort();
    // Part 4.2's Configure, step by step.
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    ASSERT_TRUE(Os().GetCommState(m_Handle, &dcb));
    EXPECT_EQ(dcb.BaudRate, 38400u);
    ASSERT_TRUE(Os().SetupComm(m_Handle, 2048, 2048));
    dcb.DCBlength = sizeof(DCB);
    ASSERT_TRUE(Os().BuildCommDCBW(L"baud=9600 parity=N data=8 stop=1", &dcb));
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fNull = 0;
    ASSERT_TRUE(Os().SetCommState(m_Handle, &dcb)) << "error " << Os().GetLastError();
    ASSERT_TRUE(SetTimeouts(MAXDWORD, 0, 0, 0, 1000));

    termios tio = m_Pty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | IXON | IXOFF | ISTRIP | INPCK), 0u);

    DCB back{};
    ASSERT_TRUE(Os().GetCommState(m_Handle, &back));
    EXPECT_EQ(back.BaudRate, 9600u);
    EXPECT_EQ(back.ByteSize, 8);
    EXPECT_EQ(back.Parity, NOPARITY);
    EXPECT_EQ(back.StopBits, ONESTOPBIT);
    EXPECT_EQ(back.fBinary, 1u);
}

TEST_F(PosixComStateBackend, GetCommStateBeforeAnySetShowsTheLinesFrameAndFillsTheWholeRecord) {
    PresetSlaveTo38400_8N2Cooked(m_Pty);
    OpenPort();
    DCB dcb;
    std::memset(&dcb, 0xA5, sizeof dcb); // whatever the caller left there, DCBlength included
    ASSERT_TRUE(Os().GetCommState(m_Handle, &dcb));
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 38400u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutX, 0u); // opening made the line binary: no XON/XOFF
    // A pty has no modem lines: DTR and RTS show as on, as under Wine.
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fDummy2, 0u);
    EXPECT_EQ(dcb.wReserved1, 0u);
}

TEST_F(PosixComStateBackend, OpeningMakesTheLineRawButKeepsItsRateAndFrame) {
    PresetSlaveTo38400_8N2Cooked(m_Pty);
    OpenPort();
    termios tio = m_Pty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B38400));
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8 | CSTOPB));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | IXON), 0u);
}

TEST_F(PosixComStateBackend, SetCommStateKeepsDtrAndRtsControlOfTheDcbOnAPty) {
    OpenPort();
    DCB dcb{};
    ASSERT_TRUE(Os().GetCommState(m_Handle, &dcb));
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    ASSERT_TRUE(Os().SetCommState(m_Handle, &dcb)) << "error " << Os().GetLastError();
    DCB back{};
    ASSERT_TRUE(Os().GetCommState(m_Handle, &back));
    EXPECT_EQ(back.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(back.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
}

TEST_F(PosixComStateBackend, SetCommStateSetsEveryStandardRateExactly) {
    OpenPort();
    for (DWORD rate : {110u, 300u, 1200u, 9600u, 19200u, 38400u, 57600u, 115200u, 230400u, 921600u}) {
        DCB dcb{};
        ASSERT_TRUE(Os().GetCommState(m_Handle, &dcb));
        dcb.BaudRate = rate;
        EXPECT_TRUE(Os().SetCommState(m_Handle, &dcb)) << rate;
        DCB back{};
        ASSERT_TRUE(Os().GetCommState(m_Handle, &back));
        EXPECT_EQ(back.BaudRate, rate);
    }
}

TEST_F(PosixComStateBackend, SetCommStateRefusesARateTermiosCannotSetAndKeepsTheLine) {
    OpenPort();
    DCB dcb{};
    ASSERT_TRUE(Os().GetCommState(m_Handle, &dcb));
    dcb.BaudRate = 9600;
    ASSERT_TRUE(Os().SetCommState(m_Handle, &dcb));
    for (DWORD rate : {14400u, 56000u, 128000u, 250000u, 0u}) {
        dcb.BaudRate = rate;
        EXPECT_FALSE(Os().SetCommState(m_Handle, &dcb)) << rate;
        EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    termios tio = m_Pty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
}

TEST_F(PosixComStateBackend, SetCommStateAppliesTwoStopBitsAndOneAgain) {
    OpenPort();
    DCB dcb{};
    ASSERT_TRUE(Os().GetCommState(m_Handle, &dcb));
    dcb.BaudRate = 19200;
    dcb.StopBits = TWOSTOPBITS;
    ASSERT_TRUE(Os().SetCommState(m_Handle, &dcb));
    EXPECT_NE(m_Pty.SlaveTermios().c_cflag & CSTOPB, 0u);
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(Os().SetCommState(m_Handle, &dcb));
    EXPECT_EQ(m_Pty.SlaveTermios().c_cflag & CSTOPB, 0u);
}

TEST_F(PosixComStateBackend, FrameAPtyCannotCarryFailsWithInvalidParameterAndLeavesTheLine) {
    OpenPort();
    DCB dcb{};
    ASSERT_TRUE(Os().GetCommState(m_Handle, &dcb));
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    ASSERT_TRUE(Os().SetCommState(m_Handle, &dcb));
    // Linux's pty driver silently keeps CS8 and drops PARENB: the backend notices and refuses.
    dcb.BaudRate = 19200;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    EXPECT_FALSE(Os().SetCommState(m_Handle, &dcb));
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    termios tio = m_Pty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600)); // put back, not left half-changed
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB), static_cast<tcflag_t>(CS8));
}

TEST_F(PosixComStateBackend, SetCommStateRefusesFramesTheLineCannotTakeWithInvalidParameter) {
    OpenPort();
    DCB good{};
    ASSERT_TRUE(Os().GetCommState(m_Handle, &good));
    struct Bad {
        BYTE bits;
        BYTE parity;
        BYTE stop;
    };
    for (Bad bad : {Bad{4, NOPARITY, ONESTOPBIT}, Bad{9, NOPARITY, ONESTOPBIT}, Bad{8, 5, ONESTOPBIT},
                    Bad{8, NOPARITY, 3}, Bad{8, NOPARITY, ONE5STOPBITS}, Bad{5, NOPARITY, TWOSTOPBITS}}) {
        DCB dcb = good;
        dcb.ByteSize = bad.bits;
        dcb.Parity = bad.parity;
        dcb.StopBits = bad.stop;
        EXPECT_FALSE(Os().SetCommState(m_Handle, &dcb)) << int(bad.bits) << int(bad.parity) << int(bad.stop);
        EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
}

TEST_F(PosixComStateBackend, CtsFlowOfTheDcbTurnsOnCrtscts) {
    OpenPort();
    DCB dcb{};
    ASSERT_TRUE(Os().GetCommState(m_Handle, &dcb));
    dcb.fOutxCtsFlow = 1;
    ASSERT_TRUE(Os().SetCommState(m_Handle, &dcb));
    EXPECT_NE(m_Pty.SlaveTermios().c_cflag & CRTSCTS, 0u);
    dcb.fOutxCtsFlow = 0;
    ASSERT_TRUE(Os().SetCommState(m_Handle, &dcb));
    EXPECT_EQ(m_Pty.SlaveTermios().c_cflag & CRTSCTS, 0u);
}

TEST_F(PosixComStateBackend, GetCommModemStatusOnAPtyFailsWithNotSupportedAndZero) {
    OpenPort();
    DWORD status = 0xFFFF;
    EXPECT_FALSE(Os().GetCommModemStatus(m_Handle, &status));
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(status, 0u);
}

TEST_F(PosixComStateBackend, GetCommPropertiesReportsRs232AndTheSettableBaudBitsOfTermios) {
    OpenPort();
    COMMPROP prop{};
    ASSERT_TRUE(Os().GetCommProperties(m_Handle, &prop));
    EXPECT_EQ(prop.wPacketLength, 64u);
    EXPECT_EQ(prop.dwProvSubType, PST_RS232);
    EXPECT_EQ(prop.dwMaxBaud, BAUD_USER);
    for (DWORD bit :
         {BAUD_075, BAUD_110, BAUD_134_5, BAUD_150, BAUD_300, BAUD_600, BAUD_1200, BAUD_1800, BAUD_2400,
          BAUD_4800, BAUD_9600, BAUD_19200, BAUD_38400, BAUD_57600, BAUD_115200, BAUD_USER}) {
        EXPECT_NE(prop.dwSettableBaud & bit, 0u) << std::hex << bit;
    }
    // No Bxxx exists for these: their bits are clear, as under Wine.
    for (DWORD bit : {BAUD_7200, BAUD_14400, BAUD_56K, BAUD_128K}) {
        EXPECT_EQ(prop.dwSettableBaud & bit, 0u) << std::hex << bit;
    }
    EXPECT_EQ(prop.dwSettableBaud & ~BAUD_USER, 0x66BFFu); // exactly Wine's bits
    EXPECT_EQ(prop.wSettableData, DATABITS_5 | DATABITS_6 | DATABITS_7 | DATABITS_8);
}

TEST_F(PosixComStateBackend, SetupCommSizesShowAsTheCurrentQueues) {
    OpenPort();
    ASSERT_TRUE(Os().SetupComm(m_Handle, 2048, 1024));
    COMMPROP prop{};
    ASSERT_TRUE(Os().GetCommProperties(m_Handle, &prop));
    EXPECT_EQ(prop.dwCurrentRxQueue, 2048u);
    EXPECT_EQ(prop.dwCurrentTxQueue, 1024u);
}

TEST_F(PosixComStateBackend, SetCommTimeoutsRefusesAllThreeReadValuesMaxdword) {
    OpenPort();
    EXPECT_FALSE(SetTimeouts(MAXDWORD, MAXDWORD, MAXDWORD, 0, 0));
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(SetTimeouts(MAXDWORD, MAXDWORD, 100, 0, 0));
}

TEST_F(PosixComStateBackend, CallsOnAHandleThatIsNotOpenFailWithInvalidHandle) {
    HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFFF0));
    DCB dcb{};
    COMMPROP prop{};
    DWORD status = 0;
    COMMTIMEOUTS t{};
    EXPECT_FALSE(Os().GetCommState(bogus, &dcb));
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(Os().SetCommState(bogus, &dcb));
    EXPECT_FALSE(Os().SetupComm(bogus, 1, 1));
    EXPECT_FALSE(Os().SetCommTimeouts(bogus, &t));
    EXPECT_FALSE(Os().GetCommProperties(bogus, &prop));
    EXPECT_FALSE(Os().GetCommModemStatus(bogus, &status));
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

} // namespace
} // namespace backendtests
