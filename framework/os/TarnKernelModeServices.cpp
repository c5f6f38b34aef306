#include "os/TarnKernelModeServices.h"

#include "os/OsBackend.h"

namespace TarnKernelModeServices {

CTarnSrvcIO TarnSrvcIO;

int CTarnSrvc::DriverOpened(unsigned long key) {
    return (key == TARNSRVC_KEY && tarnos::PortIoBackend().DriverOpen()) ? 1 : 0;
}

_TARNSRVC_RETCODE CTarnSrvcIO::PortReadByte(unsigned long port, unsigned char* value) {
    _TARNSRVC_RETCODE rc = TARNSRVC_ACCESS_FAILED;
    if (port <= 0xFFFF) { // the I/O space is 16 bits wide
        rc = tarnos::PortIoBackend().ReadByte(static_cast<unsigned short>(port), value);
    }
    return rc;
}

_TARNSRVC_RETCODE CTarnSrvcIO::PortWriteByte(unsigned long port, unsigned char value) {
    _TARNSRVC_RETCODE rc = TARNSRVC_ACCESS_FAILED;
    if (port <= 0xFFFF) {
        rc = tarnos::PortIoBackend().WriteByte(static_cast<unsigned short>(port), value);
    }
    return rc;
}

} // namespace TarnKernelModeServices
