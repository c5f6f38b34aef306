#include "os/IoPortGuard.h"

#include "os/NamedLog.h"
#include "os/TarnKernelModeServices.h"

#include <cstdio>

namespace tarnos {
namespace {

// Logged at 4, so that every --log-priority but 5 (silence) shows a refusal: it means a wrong I/O base, a
// hostile input or a bug, never an ordinary test failure.
const int REFUSAL_PRIORITY = 4;

void Log(const std::string& text) {
    static CNamedLog log("IoPortGuard");
    log.Line(REFUSAL_PRIORITY, text);
}

// A run of the module reaches at most the eight ports of one window, so more distinct refused addresses
// than this in one run means something far off; the log then says so once instead of flooding.
const size_t MAX_LOGGED_PER_RUN = 16;

// CIoPortGuard::m_Pass, the packed answer of Allows.
const uint32_t PASS_BASE_MASK = 0xFFFF;
const uint32_t PASS_PORTS_SHIFT = 16;
const uint32_t PASS_VALID = 1u << 24;

} // namespace

bool WindowsOverlap(uint32_t a, uint32_t b) {
    return a < b + UART_WINDOW_BYTES && b < a + UART_WINDOW_BYTES;
}

std::string PortText(uint32_t port) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(port));
    return text;
}

std::string WindowText(uint32_t base) {
    return PortText(base) + "-" + PortText(base + UART_WINDOW_BYTES - 1);
}

std::string ForbiddenWindowReason(uint32_t base) {
    if (base > 0xFFFF) {
        return PortText(base) + " is beyond the 16-bit I/O space (0x0000-0xFFFF)";
    }
    if (base > HIGHEST_UART_WINDOW_BASE) {
        return WindowText(base) + " passes the end of the 16-bit I/O space (0x0000-0xFFFF)";
    }
    if (base < 0x100) {
        return WindowText(base) + " is in the system board's range 0x0000-0x00FF, never a serial port";
    }
    if (WindowsOverlap(base, 0xCF8)) {
        return WindowText(base) +
               " overlaps the PCI configuration and reset ports 0x0CF8-0x0CFF, never a serial port";
    }
    return "";
}

void CIoPortGuard::SetReportedWindows(std::vector<UartWindow> windows) {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Reported = std::move(windows);
    UpdatePassLocked();
}

void CIoPortGuard::AllowWindow(uint32_t base) {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Allowed.push_back(base);
}

bool CIoPortGuard::SelectPortUnderTest(const std::string& device, std::optional<uint32_t> base) {
    std::string refusal;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Granted.reset();
        m_Logged.clear();
        m_Refused = 0;
        m_WhyNoWindow.clear();
        if (!base) {
            GrantChangedLocked();
            return false; // no I/O base: the register-level tests touch no register
        }
        bool reported = false;
        for (const UartWindow& window : m_Reported) {
            reported = reported || (window.base == *base && window.device == device && !window.console);
        }
        bool allowed = false;
        for (uint32_t allowedBase : m_Allowed) {
            allowed = allowed || allowedBase == *base;
        }
        std::string forbidden = ForbiddenWindowReason(*base);
        if (!forbidden.empty()) {
            refusal = forbidden;
        } else if (OverlapsConsoleLocked(*base)) {
            refusal = WindowText(*base) +
                      " overlaps the UART of the kernel console, never accessed, not even with --allow-io";
        } else if (!reported && !allowed) {
            refusal = "the platform reports no UART window there for " + device + " (--allow-io adds one)";
        } else {
            m_Granted = static_cast<uint16_t>(*base);
            GrantChangedLocked();
            return true;
        }
        // Logged with the run's first refused access, not here: then it joins that run's report, and a run
        // that touches no register (an external test) says nothing about registers.
        m_WhyNoWindow = "I/O base " + PortText(*base) + " of " + device + " refused: " + refusal;
        GrantChangedLocked();
    }
    return false;
}

void CIoPortGuard::Reset() {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_WhyNoWindow.clear();
    m_Reported.clear();
    m_Allowed.clear();
    m_Granted.reset();
    m_Logged.clear();
    m_Refused = 0;
    GrantChangedLocked();
}

void CIoPortGuard::UpdatePassLocked() {
    uint32_t pass = 0;
    if (m_Granted) {
        uint32_t ports = 0;
        for (uint32_t offset = 0; offset < UART_WINDOW_BYTES; ++offset) {
            // The console check again, per port: whatever was granted, its ports are never reached.
            if (*m_Granted + offset <= 0xFFFF && !InConsoleWindowLocked(*m_Granted + offset)) {
                ports |= 1u << offset;
            }
        }
        pass = PASS_VALID | ports << PASS_PORTS_SHIFT | *m_Granted;
    }
    m_Pass.store(pass, std::memory_order_release);
}

void CIoPortGuard::GrantChangedLocked() {
    UpdatePassLocked();
    if (m_Listener) {
        m_Listener(m_Granted);
    }
}

std::optional<uint16_t> CIoPortGuard::GrantedWindow() const {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Granted;
}

bool CIoPortGuard::Allows(uint16_t port) const {
    const uint32_t pass = m_Pass.load(std::memory_order_acquire);
    const uint32_t offset = static_cast<uint32_t>(port) - (pass & PASS_BASE_MASK);
    return (pass & PASS_VALID) != 0 && port >= (pass & PASS_BASE_MASK) && offset < UART_WINDOW_BYTES &&
           (pass >> PASS_PORTS_SHIFT & 1u << offset) != 0;
}

unsigned long CIoPortGuard::RefusedCount() const {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Refused;
}

bool CIoPortGuard::InConsoleWindowLocked(uint32_t port) const {
    for (const UartWindow& window : m_Reported) {
        if (window.console && port >= window.base && port - window.base < UART_WINDOW_BYTES) {
            return true;
        }
    }
    return false;
}

bool CIoPortGuard::OverlapsConsoleLocked(uint32_t base) const {
    for (const UartWindow& window : m_Reported) {
        if (window.console && WindowsOverlap(window.base, base)) {
            return true;
        }
    }
    return false;
}

void CIoPortGuard::Refuse(uint16_t port) {
    bool console = false;
    bool overflow = false;
    std::string whyNoWindow;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        ++m_Refused;
        if (m_Logged.size() > MAX_LOGGED_PER_RUN || !m_Logged.insert(port).second) {
            return; // once per address per run
        }
        if (m_Logged.size() > MAX_LOGGED_PER_RUN) {
            overflow = true;
        }
        console = InConsoleWindowLocked(port);
        whyNoWindow.swap(m_WhyNoWindow); // once per run
    }
    if (!whyNoWindow.empty()) {
        Log(whyNoWindow);
    }
    if (overflow) {
        Log("I/O port refusals: more than " + std::to_string(MAX_LOGGED_PER_RUN) +
            " addresses in this run, the others are not logged");
        return;
    }
    Log("I/O port " + PortText(port) + " refused: " +
        (console ? "the UART of the kernel console is never accessed"
                 : "outside the UART window of the port under test"));
}

int CIoPortGuard::ReadByte(unsigned short port, unsigned char* value) {
    if (!Allows(port)) {
        if (value != nullptr) {
            *value = 0x00;
        }
        Refuse(port);
        return TarnKernelModeServices::TARNSRVC_ACCESS_REFUSED;
    }
    return m_Inner.ReadByte(port, value);
}

int CIoPortGuard::WriteByte(unsigned short port, unsigned char value) {
    if (!Allows(port)) {
        Refuse(port);
        return TarnKernelModeServices::TARNSRVC_ACCESS_REFUSED;
    }
    return m_Inner.WriteByte(port, value);
}

} // namespace tarnos
