#include "host/IoGuardSetup.h"

#include "host/HostError.h"

#include <optional>

namespace tarnhost {

void ConfigureIoGuard(tarnos::CIoPortGuard& guard, const std::vector<tarnos::UartWindow>& platform,
                      const std::vector<uint32_t>& allowIo, std::FILE* warnings) {
    guard.Reset();
    guard.SetReportedWindows(platform);
    for (uint32_t base : allowIo) {
        for (const tarnos::UartWindow& window : platform) {
            if (window.console && tarnos::WindowsOverlap(window.base, base)) {
                throw CHostInputError(
                    "--allow-io", tarnos::WindowText(base) + " overlaps the UART of the kernel console (" +
                                      window.device + ", " + tarnos::WindowText(window.base) +
                                      "), never accessed, not even with --allow-io");
            }
        }
        guard.AllowWindow(base);
        std::fprintf(
            warnings,
            "tarnserialport: warning: --allow-io: I/O ports %s may be reached for any port under test "
            "whose I/O base is %s, whatever the platform reports (the kernel console's UART never)\n",
            tarnos::WindowText(base).c_str(), tarnos::PortText(base).c_str());
    }
    std::fflush(warnings);
}

bool NarrowIoGuard(tarnos::CIoPortGuard& guard, const kivu5::DiagDevice& device) {
    // The module takes the I/O base from element 0 of IoBaseAddresses; none: it touches no register.
    std::optional<uint32_t> base;
    if (const kivu5::DeviceProperty* io = device.property("IoBaseAddresses")) {
        kivu5::Value bases = io->value();
        if (bases.Uint32ArraySize() > 0) {
            base = bases.getUint32InArray(0);
        }
    }
    return guard.SelectPortUnderTest(device.name(), base);
}

} // namespace tarnhost
