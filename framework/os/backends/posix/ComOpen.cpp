#include "os/backends/posix/ComOpen.h"

#include "os/backends/posix/ComHandles.h"
#include "os/backends/posix/ComPortMap.h"
#include "os/backends/posix/ConsoleGuard.h"
#include "os/backends/posix/LastError.h"
#include "os/backends/posix/TermiosDcb.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace tarnos {
namespace posix {
namespace {

int OpenFlags(DWORD access) {
    const bool read = (access & GENERIC_READ) != 0;
    const bool write = (access & GENERIC_WRITE) != 0;
    if (read && !write) {
        return O_RDONLY;
    }
    if (write && !read) {
        return O_WRONLY;
    }
    return O_RDWR;
}

// Closes a descriptor that failed half-way through opening, keeping the errno of the failure.
HANDLE FailOpen(int fd, int error) {
    close(fd);
    SetLastErrorFromErrno(error);
    return INVALID_HANDLE_VALUE;
}

} // namespace

HANDLE OpenComPort(LPCWSTR name, DWORD access, DWORD disposition) {
    unsigned number = 0;
    std::string path;
    if (!ParseComDeviceName(name, &number) || !ComPortPath(number, &path)) {
        SetLastErrorCode(ERROR_FILE_NOT_FOUND); // as Windows for "COM3X" or a port that does not exist
        return INVALID_HANDLE_VALUE;
    }
    if (disposition != OPEN_EXISTING) {
        SetLastErrorCode(ERROR_INVALID_PARAMETER); // a device can only be opened, never created
        return INVALID_HANDLE_VALUE;
    }
    // Never the kernel's console (ttyS0 on this kind of machine): refused before anything opens it.
    if (IsKernelConsole(path)) {
        SetLastErrorCode(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // O_NONBLOCK: a real port without carrier would block the open; it stays set, and every wait of
    // ReadFile and WriteFile is a poll() with the COMMTIMEOUTS limit (TimedIo.cpp).
    int fd = open(path.c_str(), OpenFlags(access) | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    // Windows opens a COM port exclusively. TIOCEXCL alone does not stop root, so an advisory lock too:
    // a second opener, in this process or another, gets EWOULDBLOCK -> ERROR_ACCESS_DENIED. The lock is
    // taken before TIOCEXCL so that a refused opener never touches the holder's tty flags.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return FailOpen(fd, errno);
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return FailOpen(fd, errno); // no terminal (ENOTTY -> ERROR_NOT_SUPPORTED)
    }
    if (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
        return FailOpen(fd, errno);
    }
    // Windows' driver is always binary: switch the line to raw mode, keeping its rate and frame.
    MakeRawTermios(&tio);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        int error = errno;
        ioctl(fd, TIOCNXCL);
        return FailOpen(fd, error);
    }
    auto port = std::make_shared<CComPort>();
    port->m_Fd = fd;
    port->m_Path = path;
    return AddComPort(std::move(port));
}

BOOL CloseComPort(HANDLE handle) {
    std::shared_ptr<CComPort> port = RemoveComPort(handle);
    if (!port) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Clear the exclusive flag: it belongs to the tty and would outlive this descriptor while another
    // one (a pty's creator) keeps the tty alive. The flock goes with the close.
    ioctl(port->m_Fd, TIOCNXCL);
    if (close(port->m_Fd) != 0 && errno != EINTR) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

} // namespace posix
} // namespace tarnos
