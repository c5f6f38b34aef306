// I/O-port access on Linux, behind the kernel-mode services library: /dev/port (pread/pwrite at offset =
// port), root only. On x86, inside the window of the port under test, the in/out instructions after
// ioperm of exactly that window: no system call per register access (docs/performance.md).
//
// The I/O-port guard (os/IoPortGuard.h) stands in front: only the window of the port under test, as the
// host grants it from /sys/class/tty, reaches the file or the instructions.
#include "os/IoPortGuard.h"
#include "os/TarnKernelModeServices.h"
#include "os/linux/Internal.h"
#include "os/linux/LinuxBackend.h"

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace tarnos {
namespace {

using TarnKernelModeServices::TARNSRVC_ACCESS_FAILED;
using TarnKernelModeServices::TARNSRVC_DRIVER_NOT_OPEN;
using TarnKernelModeServices::TARNSRVC_SUCCESS;

// The real I/O space. Any other path is a test's file, and then ioperm is never asked.
const char* const DEV_PORT = "/dev/port";
// CDevPortIo::m_IopermWord: the base in bits 0-15, this bit set while a window is granted.
const uint32_t IOPERM_VALID = 1u << 16;
const uint32_t IOPERM_BASE_MASK = 0xFFFF;

// Byte access to an I/O space file. The file is opened on first use, once, and kept open; a failed open is
// remembered too (DriverOpen is asked before every register access).
class CDevPortIo final : public IPortIoBackend {
public:
    explicit CDevPortIo(std::string path) : m_Path(std::move(path)) {}
    ~CDevPortIo() override {
        if (m_Fd >= 0) {
            close(m_Fd);
        }
    }
    CDevPortIo(const CDevPortIo&) = delete;
    CDevPortIo& operator=(const CDevPortIo&) = delete;

    // Closes the file; the next access opens the new path. Gives back an ioperm window.
    void SetPath(std::string path);

    // The I/O-port guard's granted window [base, base + 8) (none: nothing granted), told at every
    // selection. The first access inside it, when the path is the real /dev/port and that file opened,
    // asks ioperm(base, 8, 1) for the accessing thread; then accesses inside the window from that thread use
    // the in/out instructions. A failed ioperm (no CAP_SYS_RAWIO, no x86, a kernel without it) leaves
    // /dev/port in use, silently. Another window, or none, gives the old one back (ioperm(old, 8, 0)).
    void SelectWindow(std::optional<uint16_t> base);
    void SetIopermCall(IopermCall call);

    bool DriverOpen() override;
    int ReadByte(unsigned short port, unsigned char* value) override;
    int WriteByte(unsigned short port, unsigned char value) override;

private:
    int Descriptor(); // opens on first use; -1 when the file cannot be opened for reading and writing
    bool UseInstructions(unsigned short port); // after Descriptor() succeeded
    int Ioperm(unsigned long from, int turnOn) {
        return (m_IopermCall != nullptr ? m_IopermCall : SystemIoperm)(from, UART_WINDOW_BYTES, turnOn);
    }
    void GiveBackWindow();
    // The lock-free path of a register access, once the file is open and ioperm granted the window to
    // this thread: in a QEMU guest the mutex alone costs a third of an access (docs/performance.md).
    bool OnInstructionPath(unsigned short port) const;

    std::mutex m_Lock;
    std::string m_Path;
    int m_Fd = -1;
    bool m_Tried = false;
    std::optional<uint16_t> m_Window; // the guard's granted window
    std::optional<uint16_t> m_Ioperm; // the window ioperm granted, to m_IopermThread
    std::atomic<std::thread::id> m_IopermThread{};
    // What the lock-free paths read: m_Ioperm as IOPERM_VALID | base (0: none), and whether the file opened.
    std::atomic<uint32_t> m_IopermWord{0};
    std::atomic<bool> m_Open{false};
    bool m_IopermTried = false;        // for m_Window
    IopermCall m_IopermCall = nullptr; // null: SystemIoperm
};

void CDevPortIo::SetPath(std::string path) {
    std::lock_guard<std::mutex> lock(m_Lock);
    GiveBackWindow();
    m_IopermTried = false;
    m_Open.store(false, std::memory_order_release);
    if (m_Fd >= 0) {
        close(m_Fd);
    }
    m_Fd = -1;
    m_Tried = false;
    m_Path = std::move(path);
}

void CDevPortIo::SelectWindow(std::optional<uint16_t> base) {
    std::lock_guard<std::mutex> lock(m_Lock);
    if (base == m_Window) {
        return; // the same port under test again: the grant, if any, stays
    }
    GiveBackWindow();
    m_Window = base;
    m_IopermTried = false;
}

void CDevPortIo::SetIopermCall(IopermCall call) {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_IopermCall = call;
}

void CDevPortIo::GiveBackWindow() {
    if (m_Ioperm) {
        m_IopermWord.store(0, std::memory_order_release); // before the grant goes
        Ioperm(*m_Ioperm, 0);
        m_Ioperm.reset();
    }
}

bool CDevPortIo::UseInstructions(unsigned short port) {
    // The guard already refused every port outside its window; this test keeps the instructions to the
    // window ioperm granted, whatever reaches the backend.
    if (!m_Window || port < *m_Window || port - *m_Window >= static_cast<int>(UART_WINDOW_BYTES)) {
        return false;
    }
    if (!m_IopermTried) {
        // Asked once per window, only where /dev/port itself is in use: never with a test's file.
        m_IopermTried = true;
        if (m_Path == DEV_PORT && PortInstructionsBuilt() && Ioperm(*m_Window, 1) == 0) {
            m_Ioperm = m_Window;
            m_IopermThread.store(std::this_thread::get_id(), std::memory_order_relaxed);
            m_IopermWord.store(IOPERM_VALID | *m_Ioperm, std::memory_order_release);
        }
    }
    // ioperm is per thread: another thread keeps to /dev/port.
    return m_Ioperm && m_IopermThread.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

bool CDevPortIo::OnInstructionPath(unsigned short port) const {
    const uint32_t word = m_IopermWord.load(std::memory_order_acquire);
    return (word & IOPERM_VALID) != 0 &&
           static_cast<uint32_t>(port) - (word & IOPERM_BASE_MASK) < UART_WINDOW_BYTES &&
           m_IopermThread.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

int CDevPortIo::Descriptor() {
    if (!m_Tried) {
        m_Tried = true;
        m_Fd = open(m_Path.c_str(), O_RDWR | O_CLOEXEC);
        m_Open.store(m_Fd >= 0, std::memory_order_release);
    }
    return m_Fd;
}

bool CDevPortIo::DriverOpen() {
    if (m_Open.load(std::memory_order_acquire)) {
        return true; // asked before every register access: no lock once the file is open
    }
    std::lock_guard<std::mutex> lock(m_Lock);
    return Descriptor() >= 0;
}

int CDevPortIo::ReadByte(unsigned short port, unsigned char* value) {
    if (value != nullptr && OnInstructionPath(port)) {
        *value = InByte(port);
        return TARNSRVC_SUCCESS;
    }
    std::lock_guard<std::mutex> lock(m_Lock);
    int fd = Descriptor();
    if (fd < 0) {
        return TARNSRVC_DRIVER_NOT_OPEN;
    }
    if (value != nullptr && UseInstructions(port)) {
        *value = InByte(port);
        return TARNSRVC_SUCCESS;
    }
    return pread(fd, value, 1, static_cast<off_t>(port)) == 1 ? TARNSRVC_SUCCESS : TARNSRVC_ACCESS_FAILED;
}

int CDevPortIo::WriteByte(unsigned short port, unsigned char value) {
    if (OnInstructionPath(port)) {
        OutByte(port, value);
        return TARNSRVC_SUCCESS;
    }
    std::lock_guard<std::mutex> lock(m_Lock);
    int fd = Descriptor();
    if (fd < 0) {
        return TARNSRVC_DRIVER_NOT_OPEN;
    }
    if (UseInstructions(port)) {
        OutByte(port, value);
        return TARNSRVC_SUCCESS;
    }
    return pwrite(fd, &value, 1, static_cast<off_t>(port)) == 1 ? TARNSRVC_SUCCESS : TARNSRVC_ACCESS_FAILED;
}

CDevPortIo& DevPortIo() {
    static CDevPortIo instance(DEV_PORT);
    return instance;
}

} // namespace

void SetDevPortPath(std::string path) {
    DevPortIo().SetPath(std::move(path));
}

void SetIopermCall(IopermCall call) {
    DevPortIo().SetIopermCall(call);
}

CIoPortGuard& RealPortIoGuard() {
    // The guard tells the backend its window: on x86 the backend then opens exactly that window with
    // ioperm. The guard's check still comes first: a refused port reaches no instruction.
    static CIoPortGuard guard(DevPortIo(),
                              [](std::optional<uint16_t> window) { DevPortIo().SelectWindow(window); });
    return guard;
}

IPortIoBackend& RealPortIoBackend() {
    return RealPortIoGuard();
}

} // namespace tarnos
