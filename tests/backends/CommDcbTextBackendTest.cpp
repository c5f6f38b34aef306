// BuildCommDCBW of the real backend: on Linux tarnos::ParseCommDcbText, on Windows kernel32 itself, so
// the same cases check that the parser answers as Windows does.
#include "os/OsBackend.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

tarnos::IWin32Backend& Os() {
    return tarnos::RealWin32Backend();
}

// A DCB with recognisable values in every field the texts below may or may not touch.
DCB MarkedDcb() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 4800;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

TEST(CommDcbTextBackend, SpecFrameTextGives9600_8N1) {
    DCB dcb = MarkedDcb();
    ASSERT_TRUE(Os().BuildCommDCBW(L"baud=9600 parity=N data=8 stop=1", &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fBinary, 1u);
}

TEST(CommDcbTextBackend, SpecFrameTextWorksAtEveryRateOfTheRateTable) {
    for (DWORD rate :
         {300u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u, 56000u, 57600u, 115200u, 128000u}) {
        DCB dcb = MarkedDcb();
        std::wstring text = L"baud=" + std::to_wstring(rate) + L" parity=N data=8 stop=1";
        ASSERT_TRUE(Os().BuildCommDCBW(text.c_str(), &dcb)) << rate;
        EXPECT_EQ(dcb.BaudRate, rate);
    }
}

TEST(CommDcbTextBackend, OldCommaFormGivesTheSameFrame) {
    DCB dcb = MarkedDcb();
    ASSERT_TRUE(Os().BuildCommDCBW(L"9600,n,8,1", &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
}

TEST(CommDcbTextBackend, OldFormWithADevicePrefixSetsParityAndTwoStopBits) {
    DCB dcb = MarkedDcb();
    ASSERT_TRUE(Os().BuildCommDCBW(L"COM1: 19200,o,7,2", &dcb));
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, ODDPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
}

TEST(CommDcbTextBackend, GarbageIsRejectedAndLeavesTheDcbUnchanged) {
    for (const wchar_t* text :
         {L"baud=fast parity=N data=8 stop=1", L"hello", L"baud=9600 parity=Q data=8 stop=1",
          L"baud=9600 parity=N data=9 stop=1", L"baud=9600 colour=blue"}) {
        DCB dcb = MarkedDcb();
        const DCB before = dcb;
        EXPECT_FALSE(Os().BuildCommDCBW(text, &dcb)) << "accepted";
        EXPECT_EQ(std::memcmp(&dcb, &before, sizeof(DCB)), 0) << "changed the DCB";
    }
}

TEST(CommDcbTextBackend, RejectedTextSetsInvalidParameter) {
    DCB dcb = MarkedDcb();
    ASSERT_FALSE(Os().BuildCommDCBW(L"baud=fast", &dcb));
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CommDcbTextBackend, Rate110WithNoStopGivenGivesTwoStopBits) {
    DCB dcb = MarkedDcb();
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(Os().BuildCommDCBW(L"baud=110 parity=N data=8", &dcb));
    EXPECT_EQ(dcb.BaudRate, 110u);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
}

TEST(CommDcbTextBackend, Rate110WithStopOneGivenKeepsOneStopBit) {
    DCB dcb = MarkedDcb();
    ASSERT_TRUE(Os().BuildCommDCBW(L"baud=110 parity=N data=8 stop=1", &dcb));
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
}

TEST(CommDcbTextBackend, FieldsTheTextDoesNotNameKeepTheirValues) {
    DCB dcb = MarkedDcb();
    ASSERT_TRUE(Os().BuildCommDCBW(L"baud=9600 parity=N data=8 stop=1", &dcb));
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
}

} // namespace
