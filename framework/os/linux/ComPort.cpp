// COM ports on Linux: which device answers \\.\COM<n>, the guard that keeps the kernel's console out,
// the Win32 handles of the open ports, and opening and closing them.
#include "os/linux/Internal.h"
#include "os/linux/LinuxBackend.h"

#include <cerrno>
#include <fstream>
#include <map>
#include <sstream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnos {
namespace {

std::map<unsigned, std::string> g_comPortMap;

const wchar_t COM_PREFIX[] = L"\\\\.\\COM";

// Reads exactly "\\.\COM<n>" (n decimal, no sign, no leading zero, 1 or more); false for any other name.
bool ParseComDeviceName(const wchar_t* name, unsigned* number) {
    if (name == nullptr) {
        return false;
    }
    const size_t prefixLength = sizeof COM_PREFIX / sizeof COM_PREFIX[0] - 1;
    for (size_t i = 0; i < prefixLength; ++i) {
        if (name[i] != COM_PREFIX[i]) {
            return false;
        }
    }
    const wchar_t* digits = name + prefixLength;
    if (*digits < L'1' || *digits > L'9') { // no COM0, no leading zero, no sign
        return false;
    }
    unsigned long long value = 0;
    for (const wchar_t* p = digits; *p != L'\0'; ++p) {
        if (*p < L'0' || *p > L'9') {
            return false; // "COM3X" is no COM port, as on Windows
        }
        value = value * 10 + static_cast<unsigned>(*p - L'0');
        if (value > 0xFFFFFFFFull) {
            return false;
        }
    }
    *number = static_cast<unsigned>(value);
    return true;
}

// The device mapped to COM<number>; false when there is none.
bool ComPortPath(unsigned number, std::string* path) {
    auto it = g_comPortMap.find(number);
    if (it == g_comPortMap.end()) {
        return false;
    }
    *path = it->second;
    return true;
}

// The character device behind a path, following links; false when it is none.
bool DeviceOf(const std::string& path, dev_t* device) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return false;
    }
    *device = info.st_rdev;
    return true;
}

// The open ports by handle value.
std::mutex g_handlesLock;
std::map<uintptr_t, std::shared_ptr<CComPort>> g_handles;
// Handles count up in steps of 4 as Windows' do; a closed handle's value is never given out again, so a
// stale handle fails with ERROR_INVALID_HANDLE instead of reaching another port.
uintptr_t g_nextHandle = 0x1000;

HANDLE AddComPort(std::shared_ptr<CComPort> port) {
    std::lock_guard<std::mutex> lock(g_handlesLock);
    uintptr_t value = g_nextHandle;
    g_nextHandle += 4;
    g_handles[value] = std::move(port);
    return reinterpret_cast<HANDLE>(value);
}

// Forgets the handle and returns its port (null if unknown).
std::shared_ptr<CComPort> RemoveComPort(HANDLE handle) {
    std::lock_guard<std::mutex> lock(g_handlesLock);
    auto it = g_handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == g_handles.end()) {
        return nullptr;
    }
    std::shared_ptr<CComPort> port = std::move(it->second);
    g_handles.erase(it);
    return port;
}

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

void MapComPort(unsigned number, std::string path) {
    g_comPortMap[number] = std::move(path);
}

void ClearComPortMap() {
    g_comPortMap.clear();
}

bool IsKernelConsole(const std::string& path) {
    dev_t device = 0;
    if (!DeviceOf(path, &device)) {
        return false;
    }
    std::string consoles = "console tty";
    std::ifstream active("/sys/class/tty/console/active");
    std::string line;
    if (std::getline(active, line)) {
        consoles += " " + line; // e.g. "ttyS0" or "tty0 ttyS0"
    }
    std::istringstream names(consoles);
    std::string name;
    while (names >> name) {
        dev_t console = 0;
        if (DeviceOf("/dev/" + name, &console) && console == device) {
            return true;
        }
    }
    return false;
}

std::shared_ptr<CComPort> FindComPort(HANDLE handle) {
    std::lock_guard<std::mutex> lock(g_handlesLock);
    auto it = g_handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == g_handles.end() ? nullptr : it->second;
}

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
    // Never the kernel's console: a loopback test switching it to raw mode and writing ramps to it would
    // wreck it. Refused before anything opens it.
    if (IsKernelConsole(path)) {
        SetLastErrorCode(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // O_NONBLOCK: a real port without carrier would block the open; it stays set, and every wait of
    // ReadFile and WriteFile is a poll() with the COMMTIMEOUTS limit (ComTimedIo.cpp).
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
    const termios found = tio;
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
    port->m_Found = found;
    return AddComPort(std::move(port));
}

BOOL CloseComPort(HANDLE handle) {
    std::shared_ptr<CComPort> port = RemoveComPort(handle);
    if (!port) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // The terminal as it was found. A Windows driver keeps only a port's DCB, which whoever opens it next
    // sets anyway; a tty's settings also hold the line discipline (echo, canonical input, output
    // processing) that raw mode switched off, and a getty or a shell that uses the port next needs them.
    tcsetattr(port->m_Fd, TCSANOW, &port->m_Found);
    // Clear the exclusive flag: it belongs to the tty and would outlive this descriptor while another
    // one (a pty's creator) keeps the tty alive. The flock goes with the close.
    ioctl(port->m_Fd, TIOCNXCL);
    if (close(port->m_Fd) != 0 && errno != EINTR) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

} // namespace tarnos
