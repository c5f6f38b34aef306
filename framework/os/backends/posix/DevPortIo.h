// I/O-port access on Linux through /dev/port (pread/pwrite at offset = port), behind the kernel-mode
// services library of Part 4.1. Root only; never used by the tests, which point it at a regular file.
#pragma once

#include "os/OsBackend.h"
#include "os/backends/posix/DevPortPath.h"

#include <mutex>
#include <string>

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

    // Closes the file; the next access opens the new path.
    void SetPath(std::string path);

    bool DriverOpen() override;
    int ReadByte(unsigned short port, unsigned char* value) override;
    int WriteByte(unsigned short port, unsigned char value) override;

private:
    int Descriptor(); // opens on first use; -1 when the file cannot be opened for reading and writing

    std::mutex m_Lock;
    std::string m_Path;
    int m_Fd = -1;
    bool m_Tried = false;
};

// The process's own instance, the one RealPortIoBackend() serves through the I/O-port guard (RealPortIo.cpp).
CDevPortIo& DevPortIo();

} // namespace posix
} // namespace tarnos
