// The console guard of the Linux backend: a COM port is never the kernel's console. Only the predicate is
// tested (by stat); no test ever asks the backend to open a console.
#include "PtyPair.h"

#include "os/backends/posix/ConsoleGuard.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <sys/stat.h>

namespace {

using tarnos::posix::IsKernelConsole;

TEST(PosixConsoleGuardBackend, DevConsoleAndDevTtyAreConsoles) {
    struct stat info {};
    if (stat("/dev/console", &info) != 0) {
        GTEST_SKIP() << "no /dev/console here";
    }
    EXPECT_TRUE(IsKernelConsole("/dev/console"));
    EXPECT_TRUE(IsKernelConsole("/dev/tty"));
}

TEST(PosixConsoleGuardBackend, EveryActiveKernelConsoleIsRecognised) {
    std::ifstream active("/sys/class/tty/console/active");
    std::string line;
    if (!std::getline(active, line) || line.empty()) {
        GTEST_SKIP() << "no active console listed";
    }
    std::istringstream names(line);
    std::string name;
    while (names >> name) {
        struct stat info {};
        if (stat(("/dev/" + name).c_str(), &info) == 0) {
            EXPECT_TRUE(IsKernelConsole("/dev/" + name)) << name;
        }
    }
}

TEST(PosixConsoleGuardBackend, APtyIsNoConsole) {
    backendtests::CPtyPair pty;
    ASSERT_TRUE(pty.Ok());
    EXPECT_FALSE(IsKernelConsole(pty.SlaveName()));
}

TEST(PosixConsoleGuardBackend, MissingPathsAndRegularFilesAreNoConsole) {
    EXPECT_FALSE(IsKernelConsole("/nonexistent/tarn-tests/ttyS0"));
    EXPECT_FALSE(IsKernelConsole("/etc/hostname"));
    EXPECT_FALSE(IsKernelConsole("/dev/null"));
}

} // namespace
