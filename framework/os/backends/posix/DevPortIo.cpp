#include "os/backends/posix/DevPortIo.h"

#include "os/TarnKernelModeServices.h"

#include <fcntl.h>
#include <unistd.h>

namespace tarnos {
namespace posix {

using TarnKernelModeServices::TARNSRVC_ACCESS_FAILED;
using TarnKernelModeServices::TARNSRVC_DRIVER_NOT_OPEN;
using TarnKernelModeServices::TARNSRVC_SUCCESS;

CDevPortIo::CDevPortIo(std::string path) : m_Path(std::move(path)) {}

CDevPortIo::~CDevPortIo() {
    if (m_Fd >= 0) {
        close(m_Fd);
    }
}

void CDevPortIo::SetPath(std::string path) {
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_Fd >= 0) {
        close(m_Fd);
    }
    m_Fd = -1;
    m_Tried = false;
    m_Path = std::move(path);
}

int CDevPortIo::Descriptor() {
    if (!m_Tried) {
        m_Tried = true;
        m_Fd = open(m_Path.c_str(), O_RDWR | O_CLOEXEC);
    }
    return m_Fd;
}

bool CDevPortIo::DriverOpen() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return Descriptor() >= 0;
}

int CDevPortIo::ReadByte(unsigned short port, unsigned char* value) {
    std::lock_guard<std::mutex> lock(m_Lock);
    int fd = Descriptor();
    if (fd < 0) {
        return TARNSRVC_DRIVER_NOT_OPEN;
    }
    return pread(fd, value, 1, static_cast<off_t>(port)) == 1 ? TARNSRVC_SUCCESS : TARNSRVC_ACCESS_FAILED;
}

int CDevPortIo::WriteByte(unsigned short port, unsigned char value) {
    std::lock_guard<std::mutex> lock(m_Lock);
    int fd = Descriptor();
    if (fd < 0) {
        return TARNSRVC_DRIVER_NOT_OPEN;
    }
    return pwrite(fd, &value, 1, static_cast<off_t>(port)) == 1 ? TARNSRVC_SUCCESS : TARNSRVC_ACCESS_FAILED;
}

CDevPortIo& DevPortIo() {
    static CDevPortIo instance("/dev/port");
    return instance;
}

void SetDevPortPath(std::string path) {
    DevPortIo().SetPath(std::move(path));
}

} // namespace posix
} // namespace tarnos
