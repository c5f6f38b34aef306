#include "os/TarnKernelModeServices.h"

#include "os/CallTrace.h"
#include "os/OsBackend.h"

namespace TarnKernelModeServices {

CTarnSrvcIO TarnSrvcIO;

namespace {
// The trace entry is built only while tracing: register polls are the simulator's hot path.
bool Tracing(const char* call) {
    return tarnos::CallTrace::Instance().Wants(call);
}
void Record(const char* call, std::vector<std::string> args, std::string result) {
    tarnos::CallTrace::Instance().Add(tarnos::TraceEntry{call, std::move(args), std::move(result)});
}
} // namespace

int CTarnSrvc::DriverOpened(unsigned long key) {
    int open = (key == TARNSRVC_KEY && tarnos::PortIoBackend().DriverOpen()) ? 1 : 0;
    if (Tracing("DriverOpened")) {
        Record("DriverOpened", {tarnos::HexText(key)}, std::to_string(open));
    }
    return open;
}

_TARNSRVC_RETCODE CTarnSrvcIO::PortReadByte(unsigned long port, unsigned char* value) {
    _TARNSRVC_RETCODE rc = TARNSRVC_ACCESS_FAILED;
    if (port <= 0xFFFF) { // the I/O space is 16 bits wide
        rc = tarnos::PortIoBackend().ReadByte(static_cast<unsigned short>(port), value);
    }
    if (Tracing("PortReadByte")) {
        Record("PortReadByte", {tarnos::HexText(port)},
               std::to_string(rc) + (rc == TARNSRVC_SUCCESS ? " " + tarnos::HexText(*value) : ""));
    }
    return rc;
}

_TARNSRVC_RETCODE CTarnSrvcIO::PortWriteByte(unsigned long port, unsigned char value) {
    _TARNSRVC_RETCODE rc = TARNSRVC_ACCESS_FAILED;
    if (port <= 0xFFFF) {
        rc = tarnos::PortIoBackend().WriteByte(static_cast<unsigned short>(port), value);
    }
    if (Tracing("PortWriteByte")) {
        Record("PortWriteByte", {tarnos::HexText(port), tarnos::HexText(value)}, std::to_string(rc));
    }
    return rc;
}

} // namespace TarnKernelModeServices
