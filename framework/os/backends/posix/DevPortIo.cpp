#include "os/backends/posix/DevPortIo.h"

#include "os/TarnKernelModeServices.h"
#include "os/backends/posix/PortInstructions.h"

#include <fcntl.h>
#include <unistd.h>

namespace tarnos {
namespace posix {

using TarnKernelModeServices::TARNSRVC_ACCESS_FAILED;
using TarnKernelModeServices::TARNSRVC_DRIVER_NOT_OPEN;
using TarnKernelModeServices::TARNSRVC_SUCCESS;

namespace {

// The real I/O space. Any other path is a test's file, and then ioperm is never asked.
const char* const DEV_PORT = "/dev/port";
// The window of a UART's registers (os/IoWindow.h UART_WINDOW_BYTES).
const unsigned long WINDOW_PORTS = 8;
// CDevPortIo::m_IopermWord: the base in bits 0-15, this bit set while a window is granted.
const uint32_t IOPERM_VALID = 1u << 16;
const uint32_t IOPERM_BASE_MASK = 0xFFFF;

} // namespace

CDevPortIo::CDevPortIo(std::string path) : m_Path(std::move(path)) {}

CDevPortIo::~CDevPortIo() {
    if (m_Fd >= 0) {
        close(m_Fd);
    }
}

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

unsigned long CDevPortIo::IopermCalls() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_IopermCalls;
}

void CDevPortIo::GiveBackWindow() {
    if (m_Ioperm) {
        m_IopermWord.store(0, std::memory_order_release); // before the grant goes
        ++m_IopermCalls;
        (m_IopermCall != nullptr ? m_IopermCall : SystemIoperm)(*m_Ioperm, WINDOW_PORTS, 0);
        m_Ioperm.reset();
    }
}

bool CDevPortIo::UseInstructions(unsigned short port) {
    // The guard already refused every port outside its window; this test keeps the instructions to the
    // window ioperm granted, whatever reaches the backend.
    if (!m_Window || port < *m_Window || port - *m_Window >= static_cast<int>(WINDOW_PORTS)) {
        return false;
    }
    if (!m_IopermTried) {
        // Asked once per window, only where /dev/port itself is in use: never with a test's file.
        m_IopermTried = true;
        if (m_Path == DEV_PORT && PortInstructionsBuilt()) {
            ++m_IopermCalls;
            if ((m_IopermCall != nullptr ? m_IopermCall : SystemIoperm)(*m_Window, WINDOW_PORTS, 1) == 0) {
                m_Ioperm = m_Window;
                m_IopermThread.store(std::this_thread::get_id(), std::memory_order_relaxed);
                m_IopermWord.store(IOPERM_VALID | *m_Ioperm, std::memory_order_release);
            }
        }
    }
    // ioperm is per thread: another thread keeps to /dev/port.
    return m_Ioperm && m_IopermThread.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

bool CDevPortIo::OnInstructionPath(unsigned short port) const {
    const uint32_t word = m_IopermWord.load(std::memory_order_acquire);
    return (word & IOPERM_VALID) != 0 &&
           static_cast<uint32_t>(port) - (word & IOPERM_BASE_MASK) < WINDOW_PORTS &&
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
        return true; // asked before every register access (Part 4.1): no lock once the file is open
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

void SetDevPortPath(std::string path) {
    DevPortIo().SetPath(std::move(path));
}

void SetIopermCall(IopermCall call) {
    DevPortIo().SetIopermCall(call);
}

unsigned long IopermCalls() {
    return DevPortIo().IopermCalls();
}

} // namespace posix
} // namespace tarnos
