// The kernel-mode services library, as the module sees it: one global object TarnSrvcIO of
// class CTarnSrvcIO (base CTarnSrvc) with a driver check and byte reads and writes of I/O ports. It
// forwards to the port-I/O backend of the platform seam (os/OsBackend.h).
#pragma once

namespace TarnKernelModeServices {

typedef int _TARNSRVC_RETCODE;
const _TARNSRVC_RETCODE TARNSRVC_SUCCESS = 0;
const _TARNSRVC_RETCODE TARNSRVC_DRIVER_NOT_OPEN = 1;
const _TARNSRVC_RETCODE TARNSRVC_ACCESS_FAILED = 2;
// The I/O-port guard (os/IoPortGuard.h) refused the address: outside the window of the port under test.
const _TARNSRVC_RETCODE TARNSRVC_ACCESS_REFUSED = 3;

// The key the library expects; any other key is refused as if the driver were not open.
const unsigned long TARNSRVC_KEY = 0x54415253UL; // "TARS"

class CTarnSrvc {
public:
    virtual ~CTarnSrvc() = default;
    // Nonzero when the library's kernel driver is open and port I/O can be done.
    int DriverOpened(unsigned long key);
};

class CTarnSrvcIO : public CTarnSrvc {
public:
    _TARNSRVC_RETCODE PortReadByte(unsigned long port, unsigned char* value);
    _TARNSRVC_RETCODE PortWriteByte(unsigned long port, unsigned char value);
};

extern CTarnSrvcIO TarnSrvcIO;

} // namespace TarnKernelModeServices
