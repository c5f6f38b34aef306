// The Linux backend's CreateFileW and CloseHandle: COM names, the port map, exclusivity, error codes.
#include "PosixComFixture.h"

#include "os/backends/posix/ComPortMap.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace backendtests {
namespace {

using PosixComOpenBackend = CPosixComFixture;

TEST_F(PosixComOpenBackend, CreateFileWOfAMappedComNameOpensThatPty) {
    OpenPort();
    EXPECT_NE(m_Handle, nullptr);
    // The handle reaches the pty: a byte written through it comes out at the master.
    unsigned char byte = 0x5A;
    DWORD written = 0;
    ASSERT_TRUE(Os().WriteFile(m_Handle, &byte, 1, &written, nullptr));
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(m_Pty.ReadMaster(1, 2000), std::vector<unsigned char>{0x5A});
}

TEST_F(PosixComOpenBackend, ComTenAndAboveAreParsedAsOneNumber) {
    tarnos::posix::MapComPort(10, m_Pty.SlaveName());
    m_Handle = OpenCom(L"\\\\.\\COM10");
    EXPECT_NE(m_Handle, INVALID_HANDLE_VALUE) << "error " << Os().GetLastError();
}

TEST_F(PosixComOpenBackend, TwoOpensGiveDifferentHandlesAndAClosedHandleIsNotReused) {
    OpenPort();
    HANDLE first = m_Handle;
    ASSERT_TRUE(Os().CloseHandle(first));
    m_Handle = INVALID_HANDLE_VALUE;
    OpenPort();
    EXPECT_NE(m_Handle, first);
    // The stale handle is refused instead of reaching the new open port.
    DCB dcb{};
    EXPECT_FALSE(Os().GetCommState(first, &dcb));
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(PosixComOpenBackend, MappedPathThatDoesNotExistFailsWithFileNotFound) {
    tarnos::posix::MapComPort(COM_NUMBER, "/nonexistent/tarn-tests/ttyNone");
    HANDLE h = OpenCom();
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // The text is the system's own for the errno behind the code.
    EXPECT_EQ(Os().SystemErrorText(ERROR_FILE_NOT_FOUND), std::strerror(ENOENT));
}

TEST_F(PosixComOpenBackend, UnmappedComNumberWithDefaultMappingOffFailsWithFileNotFoundAndOpensNothing) {
    // COM200 would be /dev/ttyS199 by default; with the default off there is no path at all.
    std::string path;
    EXPECT_FALSE(tarnos::posix::ComPortPath(200, &path));
    HANDLE h = OpenCom(L"\\\\.\\COM200");
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // No open() failed behind it: the text is the fixed one, not strerror(ENOENT).
    EXPECT_EQ(Os().SystemErrorText(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.");
}

TEST_F(PosixComOpenBackend, DefaultMappingOnNamesTtySOfTheNumberMinusOne) {
    // Only the path is computed: nothing is opened.
    tarnos::posix::SetDefaultComMapping(true);
    std::string path;
    ASSERT_TRUE(tarnos::posix::ComPortPath(200, &path));
    EXPECT_EQ(path, "/dev/ttyS199");
    ASSERT_TRUE(tarnos::posix::ComPortPath(COM_NUMBER, &path));
    EXPECT_EQ(path, m_Pty.SlaveName()); // a mapping wins over the default
    tarnos::posix::SetDefaultComMapping(false);
    EXPECT_FALSE(tarnos::posix::ComPortPath(200, &path));
}

TEST_F(PosixComOpenBackend, NamesOtherThanBackslashDotBackslashComNumberFailWithFileNotFound) {
    for (const wchar_t* name : {L"COM7", L"\\\\.\\COM7X", L"\\\\.\\COM07", L"\\\\.\\COM0", L"\\\\.\\COM",
                                L"\\\\.\\LPT7", L"\\\\.\\COM-7", L"/dev/ttyS0", L"\\\\.\\COM99999999999"}) {
        HANDLE h = OpenCom(name);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE) << tarnos::posix::DefaultComMapping();
        EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        if (h != INVALID_HANDLE_VALUE) {
            Os().CloseHandle(h);
        }
    }
}

TEST_F(PosixComOpenBackend, DispositionOtherThanOpenExistingIsAnInvalidParameter) {
    const DWORD CREATE_ALWAYS_DISPOSITION = 2;
    HANDLE h = Os().CreateFileW(COM_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS_DISPOSITION,
                                0, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(PosixComOpenBackend, DeviceThatIsNoTerminalFailsWithNotSupported) {
    tarnos::posix::MapComPort(COM_NUMBER, "/dev/null");
    HANDLE h = OpenCom();
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST_F(PosixComOpenBackend, SecondOpenInTheSameProcessIsAccessDenied) {
    OpenPort();
    HANDLE second = OpenCom();
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(PosixComOpenBackend, SecondOpenFromAForkedChildProcessIsAccessDenied) {
    OpenPort();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child reports through its exit code only: 0 = refused with 5, 1 = opened, 2 = another code.
        HANDLE h = OpenCom();
        if (h != INVALID_HANDLE_VALUE) {
            _exit(1);
        }
        _exit(Os().GetLastError() == ERROR_ACCESS_DENIED ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the child opened the held port; 2: it failed with another code";
}

TEST_F(PosixComOpenBackend, CloseHandleReleasesThePortForTheNextOpener) {
    OpenPort();
    ASSERT_TRUE(Os().CloseHandle(m_Handle));
    m_Handle = INVALID_HANDLE_VALUE;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HANDLE h = OpenCom();
        _exit(h != INVALID_HANDLE_VALUE ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(PosixComOpenBackend, CloseHandleOfAnUnknownHandleFailsWithInvalidHandle) {
    EXPECT_FALSE(Os().CloseHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFFF0))));
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(Os().CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(PosixComOpenBackend, CloseHandleClearsTheExclusiveFlagOfTheTty) {
    OpenPort();
    ASSERT_TRUE(Os().CloseHandle(m_Handle));
    m_Handle = INVALID_HANDLE_VALUE;
    // TIOCEXCL outlives a close while the tty stays alive; an unprivileged reopen would then get EBUSY.
    int excl = -1;
    ASSERT_EQ(ioctl(m_Pty.Slave(), TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 0);
}

TEST_F(PosixComOpenBackend, OpenPortIsExclusiveWithTiocexcl) {
    OpenPort();
    int excl = 0;
    ASSERT_EQ(ioctl(m_Pty.Slave(), TIOCGEXCL, &excl), 0);
    EXPECT_NE(excl, 0);
}

} // namespace
} // namespace backendtests
