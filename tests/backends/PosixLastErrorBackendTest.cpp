// The Linux backend's last error (errno table, per thread, texts) and its clock.
#include "PosixTestSafety.h"

#include "os/OsBackend.h"
#include "os/backends/posix/LastError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <time.h>

namespace backendtests {
namespace {

tarnos::IWin32Backend& Os() {
    return tarnos::RealWin32Backend();
}

TEST(PosixLastErrorBackend, ErrnoTableMapsAsDocumented) {
    using tarnos::posix::Win32ErrorFromErrno;
    EXPECT_EQ(Win32ErrorFromErrno(ENOENT), 2u);
    EXPECT_EQ(Win32ErrorFromErrno(ENODEV), 2u);
    EXPECT_EQ(Win32ErrorFromErrno(ENXIO), 2u);
    EXPECT_EQ(Win32ErrorFromErrno(EACCES), 5u);
    EXPECT_EQ(Win32ErrorFromErrno(EPERM), 5u);
    EXPECT_EQ(Win32ErrorFromErrno(EBUSY), 5u);
    EXPECT_EQ(Win32ErrorFromErrno(EWOULDBLOCK), 5u);
    EXPECT_EQ(Win32ErrorFromErrno(EIO), 31u);
    EXPECT_EQ(Win32ErrorFromErrno(EBADF), 6u);
    EXPECT_EQ(Win32ErrorFromErrno(EINVAL), 87u);
    EXPECT_EQ(Win32ErrorFromErrno(ETIMEDOUT), 121u);
    EXPECT_EQ(Win32ErrorFromErrno(ENOTTY), 50u);
    EXPECT_EQ(Win32ErrorFromErrno(ENOSPC), 31u); // anything else
    EXPECT_EQ(Win32ErrorFromErrno(EISDIR), 31u);
}

TEST(PosixLastErrorBackend, LastErrorIsPerThread) {
    tarnos::posix::SetLastErrorCode(ERROR_ACCESS_DENIED);
    DWORD other = 0xFFFF;
    std::thread thread([&other] {
        tarnos::posix::SetLastErrorCode(ERROR_GEN_FAILURE);
        other = Os().GetLastError();
    });
    thread.join();
    EXPECT_EQ(other, static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(PosixLastErrorBackend, SystemErrorTextIsStrerrorOfTheErrnoBehindTheLastError) {
    tarnos::posix::SetLastErrorFromErrno(EBUSY);
    ASSERT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Os().SystemErrorText(ERROR_ACCESS_DENIED), std::strerror(EBUSY));
    // Another code than the last one has no errno behind it: the fixed text.
    EXPECT_EQ(Os().SystemErrorText(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.");
}

TEST(PosixLastErrorBackend, SystemErrorTextWithoutAnErrnoIsTheFixedEnglishText) {
    tarnos::posix::SetLastErrorCode(ERROR_ACCESS_DENIED);
    EXPECT_EQ(Os().SystemErrorText(ERROR_ACCESS_DENIED), "Access is denied.");
    EXPECT_EQ(Os().SystemErrorText(ERROR_GEN_FAILURE), "A device attached to the system is not functioning.");
    EXPECT_EQ(Os().SystemErrorText(ERROR_NOT_SUPPORTED), "The request is not supported.");
    EXPECT_EQ(Os().SystemErrorText(ERROR_INVALID_PARAMETER), "The parameter is incorrect.");
    EXPECT_EQ(Os().SystemErrorText(54321), "Unknown error 54321.");
}

TEST(PosixLastErrorBackend, GetTickCountIsTheMonotonicClockInMillisecondsTruncatedTo32Bits) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t before =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    DWORD tick = Os().GetTickCount();
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t after =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    EXPECT_LE(static_cast<DWORD>(tick - static_cast<DWORD>(before)), static_cast<DWORD>(after - before));
}

TEST(PosixLastErrorBackend, SleepWaitsAtLeastTheGivenMilliseconds) {
    auto start = std::chrono::steady_clock::now();
    Os().Sleep(20);
    auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
            .count();
    EXPECT_GE(elapsed, 20000);
    EXPECT_LT(elapsed, 2000000);
}

} // namespace
} // namespace backendtests
