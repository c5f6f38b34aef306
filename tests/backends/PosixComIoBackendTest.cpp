// The Linux backend's ReadFile and WriteFile through a pty, with the COMMTIMEOUTS semantics of Windows.
// The time-outs here are short real waits: the backend under test is the real one.
#include "PosixComFixture.h"

#include <chrono>
#include <numeric>

namespace backendtests {
namespace {

using PosixComIoBackend = CPosixComFixture;
using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Every byte value once: raw mode must pass 0x03, 0x0A, 0x0D, 0x11, 0x13, 0x7F and 0xFF unchanged.
std::vector<unsigned char> AllByteValues() {
    std::vector<unsigned char> bytes(256);
    std::iota(bytes.begin(), bytes.end(), static_cast<unsigned char>(0));
    return bytes;
}

TEST_F(PosixComIoBackend, WriteFileBytesAppearUnchangedOnTheMasterSide) {
    OpenPort();
    ASSERT_TRUE(SetTimeouts(MAXDWORD, 0, 0, 0, 1000));
    std::vector<unsigned char> bytes = AllByteValues();
    // In 8-byte pieces as Part 5.6 writes.
    for (size_t i = 0; i < bytes.size(); i += 8) {
        DWORD written = 0;
        ASSERT_TRUE(Os().WriteFile(m_Handle, bytes.data() + i, 8, &written, nullptr));
        EXPECT_EQ(written, 8u);
    }
    EXPECT_EQ(m_Pty.ReadMaster(bytes.size(), 2000), bytes);
}

TEST_F(PosixComIoBackend, BytesWrittenOnTheMasterAreReturnedByReadFile) {
    OpenPort();
    ASSERT_TRUE(SetTimeouts(0, 0, 2000, 0, 1000)); // the whole count, or 2 s
    std::vector<unsigned char> bytes = AllByteValues();
    ASSERT_TRUE(m_Pty.WriteMaster(bytes));
    std::vector<unsigned char> got(512, 0);
    DWORD read = 0;
    ASSERT_TRUE(Os().ReadFile(m_Handle, got.data(), 256, &read, nullptr));
    ASSERT_EQ(read, 256u);
    got.resize(read);
    EXPECT_EQ(got, bytes);
}

TEST_F(PosixComIoBackend, ReadFileWithMaxdwordZeroZeroAndNothingReceivedReturnsTrueAtOnceWithZero) {
    OpenPort();
    ASSERT_TRUE(SetTimeouts(MAXDWORD, 0, 0, 0, 1000));
    unsigned char buffer[512];
    DWORD read = 0xFFFF;
    Clock::time_point start = Clock::now();
    EXPECT_TRUE(Os().ReadFile(m_Handle, buffer, sizeof buffer, &read, nullptr));
    EXPECT_LT(MillisecondsSince(start), 100);
    EXPECT_EQ(read, 0u);
}

TEST_F(PosixComIoBackend, ReadFileWithMaxdwordZeroZeroReturnsWhatHasArrived) {
    OpenPort();
    ASSERT_TRUE(SetTimeouts(MAXDWORD, 0, 0, 0, 1000));
    ASSERT_TRUE(m_Pty.WriteMaster({'O', 'K', '\r'}));
    // The pty hands bytes on asynchronously: look again until they are there (at most 2 s).
    std::vector<unsigned char> got;
    Clock::time_point start = Clock::now();
    while (got.size() < 3 && MillisecondsSince(start) < 2000) {
        unsigned char buffer[512];
        DWORD read = 0;
        ASSERT_TRUE(Os().ReadFile(m_Handle, buffer, sizeof buffer, &read, nullptr));
        got.insert(got.end(), buffer, buffer + read);
    }
    EXPECT_EQ(got, (std::vector<unsigned char>{'O', 'K', '\r'}));
}

TEST_F(PosixComIoBackend, ReadFileTotalTimeoutEndsAnEmptyReadAfterTheConstant) {
    OpenPort();
    ASSERT_TRUE(SetTimeouts(0, 0, 150, 0, 0));
    unsigned char buffer[16];
    DWORD read = 0xFFFF;
    Clock::time_point start = Clock::now();
    EXPECT_TRUE(Os().ReadFile(m_Handle, buffer, sizeof buffer, &read, nullptr)); // a time-out is no failure
    long long elapsed = MillisecondsSince(start);
    EXPECT_EQ(read, 0u);
    EXPECT_GE(elapsed, 140);
    EXPECT_LT(elapsed, 2000);
}

TEST_F(PosixComIoBackend, ReadFileTotalTimeoutCountsTheMultiplierPerByte) {
    OpenPort();
    ASSERT_TRUE(SetTimeouts(0, 10, 50, 0, 0)); // 10 ms * 16 + 50 ms = 210 ms
    unsigned char buffer[16];
    DWORD read = 0;
    Clock::time_point start = Clock::now();
    EXPECT_TRUE(Os().ReadFile(m_Handle, buffer, sizeof buffer, &read, nullptr));
    long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 200);
    EXPECT_LT(elapsed, 2000);
}

TEST_F(PosixComIoBackend, ReadFileIntervalTimeoutEndsAReadWhenTheLineFallsSilent) {
    OpenPort();
    ASSERT_TRUE(SetTimeouts(100, 0, 0, 0, 0)); // no total limit: only the gap after the first byte
    ASSERT_TRUE(m_Pty.WriteMaster({1, 2, 3}));
    unsigned char buffer[64];
    DWORD read = 0;
    Clock::time_point start = Clock::now();
    EXPECT_TRUE(Os().ReadFile(m_Handle, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 3u);
    EXPECT_LT(MillisecondsSince(start), 2000);
}

TEST_F(PosixComIoBackend, ReadFileWaitForFirstByteModeEndsEmptyAfterTheConstant) {
    OpenPort();
    ASSERT_TRUE(SetTimeouts(MAXDWORD, MAXDWORD, 120, 0, 0));
    unsigned char buffer[64];
    DWORD read = 0xFFFF;
    Clock::time_point start = Clock::now();
    EXPECT_TRUE(Os().ReadFile(m_Handle, buffer, sizeof buffer, &read, nullptr));
    long long elapsed = MillisecondsSince(start);
    EXPECT_EQ(read, 0u);
    EXPECT_GE(elapsed, 110);
    EXPECT_LT(elapsed, 2000);
}

TEST_F(PosixComIoBackend, ReadFileWaitForFirstByteModeReturnsAsSoonAsBytesAreThere) {
    OpenPort();
    ASSERT_TRUE(SetTimeouts(MAXDWORD, MAXDWORD, 5000, 0, 0));
    ASSERT_TRUE(m_Pty.WriteMaster({7, 8}));
    unsigned char buffer[64];
    DWORD total = 0;
    Clock::time_point start = Clock::now();
    while (total < 2 && MillisecondsSince(start) < 4000) {
        DWORD read = 0;
        ASSERT_TRUE(Os().ReadFile(m_Handle, buffer + total, sizeof buffer - total, &read, nullptr));
        ASSERT_GT(read, 0u); // never the 5 s time-out: the bytes are there or coming
        total += read;
    }
    EXPECT_EQ(total, 2u);
    EXPECT_LT(MillisecondsSince(start), 4000);
}

TEST_F(PosixComIoBackend, WriteTimeoutEndsAWriteTheMasterDoesNotReadWithTheCountSent) {
    OpenPort();
    ASSERT_TRUE(SetTimeouts(MAXDWORD, 0, 0, 0, 150));
    // Far more than the pty can buffer: the master never reads, so the write must give up.
    std::vector<unsigned char> bytes(4 * 1024 * 1024, 0x55);
    DWORD written = 0;
    Clock::time_point start = Clock::now();
    EXPECT_TRUE(Os().WriteFile(m_Handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    long long elapsed = MillisecondsSince(start);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, bytes.size());
    EXPECT_GE(elapsed, 140);
    EXPECT_LT(elapsed, 3000);
}

TEST_F(PosixComIoBackend, WriteTimeoutMultiplierCountsPerByte) {
    OpenPort();
    ASSERT_TRUE(SetTimeouts(MAXDWORD, 0, 0, 0, 150));
    std::vector<unsigned char> fill(4 * 1024 * 1024, 0x55);
    DWORD written = 0;
    ASSERT_TRUE(Os().WriteFile(m_Handle, fill.data(), static_cast<DWORD>(fill.size()), &written, nullptr));
    // The line is full now: 100 bytes at 2 ms each plus 20 ms give up after about 220 ms.
    ASSERT_TRUE(SetTimeouts(MAXDWORD, 0, 0, 2, 20));
    Clock::time_point start = Clock::now();
    EXPECT_TRUE(Os().WriteFile(m_Handle, fill.data(), 100, &written, nullptr));
    long long elapsed = MillisecondsSince(start);
    EXPECT_LT(written, 100u);
    EXPECT_GE(elapsed, 210);
    EXPECT_LT(elapsed, 3000);
}

TEST_F(PosixComIoBackend, ReadAndWriteOfZeroBytesSucceedAtOnce) {
    OpenPort();
    // No time-outs at all (the state after open): a zero-byte read must still not wait.
    unsigned char byte = 0;
    DWORD count = 0xFFFF;
    EXPECT_TRUE(Os().ReadFile(m_Handle, &byte, 0, &count, nullptr));
    EXPECT_EQ(count, 0u);
    count = 0xFFFF;
    EXPECT_TRUE(Os().WriteFile(m_Handle, &byte, 0, &count, nullptr));
    EXPECT_EQ(count, 0u);
}

TEST_F(PosixComIoBackend, ReadFileAfterTheFarEndHungUpFailsInsteadOfWaiting) {
    OpenPort();
    ASSERT_TRUE(SetTimeouts(0, 0, 0, 0, 0)); // would wait for ever on a live line
    m_Pty.CloseMaster();
    unsigned char buffer[8];
    DWORD read = 0;
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(Os().ReadFile(m_Handle, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_LT(MillisecondsSince(start), 2000);
}

} // namespace
} // namespace backendtests
