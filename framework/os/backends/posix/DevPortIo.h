// I/O-port access on Linux through /dev/port (pread/pwrite at offset = port), behind the kernel-mode
// services library of Part 4.1. Root only; never used by the tests, which point it at a regular file.
// On x86, inside the window of the port under test, the in/out instructions after ioperm of exactly that
// window: no system call per register access (docs/performance.md). Only with the real /dev/port path.
#pragma once

#include "os/OsBackend.h"
#include "os/backends/posix/DevPortPath.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace tarnos {
namespace posix {

// Byte access to an I/O space file. The file is opened on first use, once, and kept open; a failed open is
// remembered too (DriverOpen is asked before every register access of the module).
class CDevPortIo final : public IPortIoBackend {
public:
    explicit CDevPortIo(std::string path);
    ~CDevPortIo() override;
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
    // The ioperm call, for the tests (DevPortPath.h): null restores the system's. Calls are counted.
    void SetIopermCall(IopermCall call);
    unsigned long IopermCalls();

    bool DriverOpen() override;
    int ReadByte(unsigned short port, unsigned char* value) override;
    int WriteByte(unsigned short port, unsigned char value) override;

private:
    int Descriptor(); // opens on first use; -1 when the file cannot be opened for reading and writing
    bool UseInstructions(unsigned short port); // after Descriptor() succeeded
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
    unsigned long m_IopermCalls = 0;
};

// The process's own instance, the one RealPortIoBackend() serves through the I/O-port guard (RealPortIo.cpp).
CDevPortIo& DevPortIo();

} // namespace posix
} // namespace tarnos
