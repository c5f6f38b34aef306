// The Linux I/O-port backend against a temporary regular file standing in for /dev/port: pread/pwrite at
// offset = port. The real /dev/port is never used here.
#include "PosixTestSafety.h"

#include "os/IoPortGuard.h"
#include "os/OsBackend.h"
#include "os/TarnKernelModeServices.h"
#include "os/backends/posix/DevPortIo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace backendtests {
namespace {

// A 64 KiB file of zeros, the size of the I/O space, removed after the test.
class PosixDevPortBackend : public ::testing::Test {
protected:
    void SetUp() override {
        MakePosixBackendsSafe();
        char name[] = "/tmp/tarn-devport-XXXXXX";
        m_Fd = mkstemp(name);
        ASSERT_GE(m_Fd, 0);
        m_Path = name;
        ASSERT_EQ(ftruncate(m_Fd, 0x10000), 0);
    }
    void TearDown() override {
        MakePosixBackendsSafe(); // closes the backend's descriptor of the file
        tarnos::SetBackends(nullptr, nullptr);
        if (m_Fd >= 0) {
            close(m_Fd);
            unlink(m_Path.c_str());
        }
    }

    unsigned char FileByte(off_t offset) const {
        unsigned char value = 0xEE;
        EXPECT_EQ(pread(m_Fd, &value, 1, offset), 1);
        return value;
    }
    void SetFileByte(off_t offset, unsigned char value) const {
        ASSERT_EQ(pwrite(m_Fd, &value, 1, offset), 1);
    }

    int m_Fd = -1;
    std::string m_Path;
};

TEST_F(PosixDevPortBackend, DriverOpenIsTrueWhenTheFileOpensForReadingAndWriting) {
    tarnos::posix::CDevPortIo io(m_Path);
    EXPECT_TRUE(io.DriverOpen());
}

TEST_F(PosixDevPortBackend, DriverOpenIsFalseForAMissingPathAndTransfersFail) {
    tarnos::posix::CDevPortIo io("/nonexistent/tarn-tests/port");
    EXPECT_FALSE(io.DriverOpen());
    unsigned char value = 0x77;
    EXPECT_NE(io.ReadByte(0x2F8, &value), 0);
    EXPECT_NE(io.WriteByte(0x2F8, 0x41), 0);
}

TEST_F(PosixDevPortBackend, WriteByteStoresTheByteAtTheOffsetOfThePort) {
    tarnos::posix::CDevPortIo io(m_Path);
    EXPECT_EQ(io.WriteByte(0x2FB, 0x87), 0);
    EXPECT_EQ(io.WriteByte(0x3E8, 0x5A), 0);
    EXPECT_EQ(FileByte(0x2FB), 0x87);
    EXPECT_EQ(FileByte(0x3E8), 0x5A);
    EXPECT_EQ(FileByte(0x2FA), 0x00); // nothing beside it
}

TEST_F(PosixDevPortBackend, ReadByteReturnsTheByteAtTheOffsetOfThePort) {
    SetFileByte(0x2F8 + 6, 0xB0);
    SetFileByte(0xFFFF, 0xC3); // the last port of the 16-bit space
    tarnos::posix::CDevPortIo io(m_Path);
    unsigned char value = 0;
    EXPECT_EQ(io.ReadByte(0x2FE, &value), 0);
    EXPECT_EQ(value, 0xB0);
    EXPECT_EQ(io.ReadByte(0xFFFF, &value), 0);
    EXPECT_EQ(value, 0xC3);
}

TEST_F(PosixDevPortBackend, ReadBeyondTheEndOfTheFileFails) {
    ASSERT_EQ(ftruncate(m_Fd, 0x100), 0);
    tarnos::posix::CDevPortIo io(m_Path);
    unsigned char value = 0;
    EXPECT_NE(io.ReadByte(0x2F8, &value), 0);
}

TEST_F(PosixDevPortBackend, TheFileIsOpenedOnceAndKept) {
    tarnos::posix::CDevPortIo io(m_Path);
    ASSERT_TRUE(io.DriverOpen());
    // Once open, the path no longer matters: the descriptor is kept.
    ASSERT_EQ(unlink(m_Path.c_str()), 0);
    EXPECT_TRUE(io.DriverOpen());
    EXPECT_EQ(io.WriteByte(0x10, 0x22), 0);
    EXPECT_EQ(FileByte(0x10), 0x22);
}

TEST_F(PosixDevPortBackend, DriverOpenFollowsANewPathOnceTheFileWasOpen) {
    // DriverOpen answers without its lock once the file is open; a new path must still be looked at.
    tarnos::posix::CDevPortIo io(m_Path);
    ASSERT_TRUE(io.DriverOpen());
    io.SetPath("/nonexistent/tarn-devport");
    EXPECT_FALSE(io.DriverOpen());
    unsigned char value = 0x77;
    EXPECT_EQ(io.ReadByte(0x10, &value), TarnKernelModeServices::TARNSRVC_DRIVER_NOT_OPEN);
    io.SetPath(m_Path);
    EXPECT_TRUE(io.DriverOpen());
    SetFileByte(0x10, 0x3C);
    EXPECT_EQ(io.ReadByte(0x10, &value), TarnKernelModeServices::TARNSRVC_SUCCESS);
    EXPECT_EQ(value, 0x3C);
}

TEST_F(PosixDevPortBackend, SetDevPortPathPointsTheRealBackendAndTheLibraryAtTheFile) {
    tarnos::posix::SetDevPortPath(m_Path);
    tarnos::SetBackends(nullptr, nullptr); // the seam's default: the real backend, behind the I/O-port guard
    tarnos::RealPortIoGuard().SetReportedWindows({tarnos::UartWindow{0x2F8, "COM2", false}});
    ASSERT_TRUE(tarnos::RealPortIoGuard().SelectPortUnderTest("COM2", 0x2F8)); // tests/guard/ test the rest
    using TarnKernelModeServices::TarnSrvcIO;
    EXPECT_NE(TarnSrvcIO.DriverOpened(TarnKernelModeServices::TARNSRVC_KEY), 0);
    EXPECT_EQ(TarnSrvcIO.PortWriteByte(0x2FC, 0x13), TarnKernelModeServices::TARNSRVC_SUCCESS);
    EXPECT_EQ(FileByte(0x2FC), 0x13);
    SetFileByte(0x2FD, 0x60);
    unsigned char value = 0;
    EXPECT_EQ(TarnSrvcIO.PortReadByte(0x2FD, &value), TarnKernelModeServices::TARNSRVC_SUCCESS);
    EXPECT_EQ(value, 0x60);
}

// Stands in for ioperm(2) and records each call; never the system's.
unsigned long g_IopermSeen = 0;
int RecordIoperm(unsigned long, unsigned long, int) {
    ++g_IopermSeen;
    return -1;
}

// The ioperm path (x86, DevPortIo.h) needs the real /dev/port path: with a test's file every access inside
// the granted window goes to the file, and ioperm is never asked.
TEST_F(PosixDevPortBackend, IopermIsNeverAskedWhenThePathIsATestFile) {
    tarnos::posix::CDevPortIo io(m_Path);
    io.SetIopermCall(RecordIoperm);
    g_IopermSeen = 0;
    io.SelectWindow(0x2F8);
    EXPECT_EQ(io.WriteByte(0x2FC, 0x13), 0);
    SetFileByte(0x2FD, 0x60);
    unsigned char value = 0;
    EXPECT_EQ(io.ReadByte(0x2FD, &value), 0);
    EXPECT_EQ(value, 0x60);
    io.SelectWindow(0x3E8); // another window, then none: nothing to give back either
    EXPECT_EQ(io.WriteByte(0x3E8, 0x5A), 0);
    io.SelectWindow(std::nullopt);
    EXPECT_EQ(FileByte(0x2FC), 0x13);
    EXPECT_EQ(FileByte(0x3E8), 0x5A);
    EXPECT_EQ(io.IopermCalls(), 0u);
    EXPECT_EQ(g_IopermSeen, 0u);
}

TEST_F(PosixDevPortBackend, TheRealBackendBehindTheGuardNeverAsksIopermWithATestFile) {
    tarnos::posix::SetIopermCall(RecordIoperm);
    g_IopermSeen = 0;
    unsigned long before = tarnos::posix::IopermCalls();
    tarnos::posix::SetDevPortPath(m_Path);
    tarnos::SetBackends(nullptr, nullptr);
    tarnos::RealPortIoGuard().SetReportedWindows({tarnos::UartWindow{0x2F8, "COM2", false}});
    ASSERT_TRUE(tarnos::RealPortIoGuard().SelectPortUnderTest("COM2", 0x2F8));
    using TarnKernelModeServices::TarnSrvcIO;
    for (unsigned short port = 0x2F8; port < 0x300; ++port) {
        EXPECT_EQ(TarnSrvcIO.PortWriteByte(port, static_cast<unsigned char>(port & 0xFF)),
                  TarnKernelModeServices::TARNSRVC_SUCCESS);
        unsigned char value = 0;
        EXPECT_EQ(TarnSrvcIO.PortReadByte(port, &value), TarnKernelModeServices::TARNSRVC_SUCCESS);
        EXPECT_EQ(value, port & 0xFF);
    }
    EXPECT_EQ(FileByte(0x2FF), 0xFF); // the file, not an instruction, took the accesses
    tarnos::RealPortIoGuard().Reset();
    EXPECT_EQ(tarnos::posix::IopermCalls(), before);
    EXPECT_EQ(g_IopermSeen, 0u);
    MakePosixBackendsSafe(); // back to the program's refusing ioperm
}

TEST_F(PosixDevPortBackend, RealBackendWithAMissingPathReportsTheDriverNotOpen) {
    tarnos::SetBackends(nullptr, nullptr);
    // MakePosixBackendsSafe pointed it at a path that does not exist.
    EXPECT_FALSE(tarnos::RealPortIoBackend().DriverOpen());
    EXPECT_EQ(TarnKernelModeServices::TarnSrvcIO.DriverOpened(TarnKernelModeServices::TARNSRVC_KEY), 0);
}

} // namespace
} // namespace backendtests
