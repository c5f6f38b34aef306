// The I/O-port guard. The real port-I/O backends (/dev/port on Linux, the InpOut driver on Windows) run as
// root or administrator and reach every I/O port of the machine: the interrupt controllers, the RTC at 0x70,
// PCI configuration at 0xCF8, the reset port 0xCF9. The guard stands in front of the real backend
// (RealPortIoBackend() returns it) and lets an access through only inside the 8-byte register window of
// the port under test, and only when the platform itself reports that window for that port, or an expert
// added it (--allow-io); the kernel console's UART never. Anything else fails as a library call does
// (TARNSRVC_ACCESS_REFUSED): a read gives 0x00 and a write writes nothing. Each refused address is logged
// once per run (at most 16 addresses, then one line says that more were refused).
// The simulator has its own backend and no guard.
#pragma once

#include "os/IoWindow.h"
#include "os/OsBackend.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tarnos {

class CIoPortGuard final : public IPortIoBackend {
public:
    // Told the granted window (none: nothing granted) whenever a selection or Reset sets it, so that the
    // backend can open exactly that window in its own way (Linux: ioperm, os/linux/PortIo.cpp).
    // The guard's check stays in front of every access all the same.
    using WindowListener = std::function<void(std::optional<uint16_t>)>;

    explicit CIoPortGuard(IPortIoBackend& inner, WindowListener listener = nullptr)
        : m_Inner(inner), m_Listener(std::move(listener)) {}

    // The platform's facts, set once by the host: the UART windows it reports (console's included).
    void SetReportedWindows(std::vector<UartWindow> windows);
    // --allow-io: the window at base may be granted to any port under test that claims it. The console's
    // window and the forbidden ranges (ForbiddenWindowReason) are still refused.
    void AllowWindow(uint32_t base);
    // Before each run: grants the window of the device's I/O base (IoBaseAddresses[0]; none: nothing) when
    // the platform reports it for this device or it was allowed, and it is neither forbidden nor the
    // console's. Otherwise nothing is granted for the run, and one log line says why, with the run's first
    // refused access. Forgets which addresses were logged. Returns whether a window was granted.
    bool SelectPortUnderTest(const std::string& device, std::optional<uint32_t> base);
    // Back to the start-up state: nothing reported, allowed or granted.
    void Reset();

    std::optional<uint16_t> GrantedWindow() const;
    // Whether an access to this port passes now. Lock-free: asked before every register access, which
    // in a QEMU guest costs a microsecond, so the answer is worked out whenever the grant or the reported
    // windows change, and read here as one word (docs/performance.md).
    bool Allows(uint16_t port) const;
    // Accesses refused since the last SelectPortUnderTest (or Reset).
    unsigned long RefusedCount() const;

    bool DriverOpen() override { return m_Inner.DriverOpen(); } // the driver check is the backend's own
    int ReadByte(unsigned short port, unsigned char* value) override;
    int WriteByte(unsigned short port, unsigned char value) override;

private:
    void UpdatePassLocked();
    bool InConsoleWindowLocked(uint32_t port) const;
    bool OverlapsConsoleLocked(uint32_t base) const;
    void Refuse(uint16_t port);

    void GrantChangedLocked(); // works out m_Pass again and tells the listener

    IPortIoBackend& m_Inner;
    WindowListener m_Listener;
    mutable std::mutex m_Lock;
    std::vector<UartWindow> m_Reported;
    std::vector<uint32_t> m_Allowed;
    std::optional<uint16_t> m_Granted;
    std::set<uint16_t> m_Logged; // refused addresses already logged in this run
    std::string m_WhyNoWindow;   // why this run got no window, logged with its first refusal
    unsigned long m_Refused = 0;
    // What Allows reads: 0 when nothing is granted, else the granted base in bits 0-15, in bits 16-23 which
    // of its eight ports pass (the console's UART never does), and bit 24 set.
    std::atomic<uint32_t> m_Pass{0};
};

// The guard in front of this platform's real port-I/O backend, the one RealPortIoBackend() returns
// (defined beside the backend, in os/linux/PortIo.cpp or os/windows/PortIo.cpp). It starts with nothing
// granted.
CIoPortGuard& RealPortIoGuard();

} // namespace tarnos
