// The I/O-port guard in front of a recording backend: whatever is asked, only the eight ports of the window
// of the port under test reach the hardware, and only when the platform reports that window for that port
// (or an expert allowed it); never the kernel console's UART, the system board, PCI configuration.
#include "os/IoPortGuard.h"
#include "kivu5/Framework.h"
#include "os/TarnKernelModeServices.h"
#include "qen/qen.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <vector>

namespace tarntest {
namespace {

using tarnos::UartWindow;

class CRecordingPortIo final : public tarnos::IPortIoBackend {
public:
    bool DriverOpen() override { return true; }
    int ReadByte(unsigned short port, unsigned char* value) override {
        reached.insert(port);
        *value = 0xA5;
        return 0;
    }
    int WriteByte(unsigned short port, unsigned char) override {
        reached.insert(port);
        return 0;
    }
    std::set<unsigned> reached;
};

// COM1 at 0x3F8 carries the kernel console; COM2 and COM4 are reported.
const std::vector<UartWindow> PLATFORM = {
    {0x3F8, "COM1", true}, {0x2F8, "COM2", false}, {0x2E8, "COM4", false}};

std::set<unsigned> Window(unsigned base, unsigned count = 8) {
    std::set<unsigned> ports;
    for (unsigned offset = 0; offset < count; ++offset) {
        ports.insert(base + offset);
    }
    return ports;
}

TEST(IoPortGuard, OnlyTheGrantedWindowReachesTheHardware) {
    struct Case {
        const char* about;
        std::vector<UartWindow> reported;
        std::vector<uint32_t> allowed;
        const char* device;
        std::optional<uint32_t> base;
        std::set<unsigned> reaching;
    };
    const Case cases[] = {
        {"nothing reported", {}, {}, "COM2", 0x2F8, {}},
        {"the reported window of the port under test", PLATFORM, {}, "COM2", 0x2F8, Window(0x2F8)},
        {"another port's reported window", PLATFORM, {}, "COM4", 0x2F8, {}},
        {"a window nobody reports", PLATFORM, {}, "COM3", 0x3E8, {}},
        {"an allowed window, for any port", PLATFORM, {0x3E8}, "COM3", 0x3E8, Window(0x3E8)},
        {"the console's window, even allowed", PLATFORM, {0x3F8}, "COM1", 0x3F8, {}},
        {"overlapping the console's window", PLATFORM, {0x3F4}, "COM9", 0x3F4, {}},
        {"the RTC, even allowed", PLATFORM, {0x70}, "COM9", 0x70, {}},
        {"PCI configuration, even allowed", PLATFORM, {0xCF8}, "COM9", 0xCF8, {}},
        {"the highest window, up to 0xFFFF and no wrap", PLATFORM, {0xFFF8}, "COM9", 0xFFF8, Window(0xFFF8)},
        {"a base wider than 16 bits is not its low bits", PLATFORM, {}, "COM2", 0x102F8, {}},
        {"no base", PLATFORM, {0x2F8}, "COM2", std::nullopt, {}},
    };
    int saved = qen::LoggerPriority::LOGGER_PRIORITY;
    qen::LoggerPriority::LOGGER_PRIORITY = 5; // the refusals are many; their lines are the next test's
    for (const Case& c : cases) {
        CRecordingPortIo hardware;
        std::optional<std::optional<uint16_t>> told; // what the backend was told to open (ioperm on Linux)
        tarnos::CIoPortGuard guard(hardware, [&](std::optional<uint16_t> window) { told = window; });
        guard.SetReportedWindows(c.reported);
        for (uint32_t base : c.allowed) {
            guard.AllowWindow(base);
        }
        EXPECT_EQ(guard.SelectPortUnderTest(c.device, c.base), !c.reaching.empty()) << c.about;
        ASSERT_TRUE(told.has_value()) << c.about;
        EXPECT_EQ(told->has_value(), !c.reaching.empty()) << c.about;
        unsigned long refused = 0;
        for (unsigned port = 0; port <= 0xFFFF; ++port) {
            unsigned char value = 0x77;
            int rc = guard.ReadByte(static_cast<unsigned short>(port), &value);
            guard.WriteByte(static_cast<unsigned short>(port), 0x5A);
            bool passes = c.reaching.count(port) != 0;
            EXPECT_EQ(guard.Allows(static_cast<uint16_t>(port)), passes) << c.about << " " << port;
            if (!passes) {
                EXPECT_EQ(rc, TarnKernelModeServices::TARNSRVC_ACCESS_REFUSED) << c.about;
                EXPECT_EQ(value, 0x00) << "a refused read reads 0x00: " << c.about;
                refused += 2;
            }
        }
        EXPECT_EQ(hardware.reached, c.reaching) << c.about;
        EXPECT_EQ(guard.RefusedCount(), refused) << c.about;
        guard.SelectPortUnderTest(c.device, c.base);
        EXPECT_EQ(guard.RefusedCount(), 0u) << "each run counts afresh: " << c.about;
    }
    qen::LoggerPriority::LOGGER_PRIORITY = saved;
}

TEST(IoPortGuard, AConsoleReportedAfterTheGrantClosesItsPortsAtOnce) {
    CRecordingPortIo hardware;
    tarnos::CIoPortGuard guard(hardware);
    guard.SetReportedWindows(PLATFORM);
    ASSERT_TRUE(guard.SelectPortUnderTest("COM2", 0x2F8));
    std::vector<UartWindow> later = PLATFORM;
    later.push_back({0x2FC, "ttyS9", true});
    guard.SetReportedWindows(later);
    for (unsigned port = 0x2F0; port < 0x300; ++port) {
        unsigned char value = 0;
        guard.ReadByte(static_cast<unsigned short>(port), &value);
    }
    EXPECT_EQ(hardware.reached, Window(0x2F8, 4));
}

TEST(IoPortGuard, RefusalsAreLoggedOncePerAddressPerRunWithWhyThereIsNoWindow) {
    int saved = qen::LoggerPriority::LOGGER_PRIORITY;
    qen::LoggerPriority::LOGGER_PRIORITY = 3;
    CRecordingPortIo hardware;
    tarnos::CIoPortGuard guard(hardware);
    guard.SetReportedWindows(PLATFORM);
    kivu5::Framework::beginRun();
    EXPECT_FALSE(guard.SelectPortUnderTest("COM9", 0x70));
    unsigned char value = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (unsigned port = 0x70; port < 0x70 + 20; ++port) {
            guard.ReadByte(static_cast<unsigned short>(port), &value);
        }
    }
    guard.ReadByte(0x3F8, &value);
    std::vector<std::string> lines;
    for (const kivu5::TimelineEntry& entry : kivu5::Framework::timeline()) {
        if (entry.kind == kivu5::TimelineEntry::Log) {
            EXPECT_EQ(entry.value, 4) << entry.text;
            lines.push_back(entry.text);
        }
    }
    ASSERT_EQ(lines.size(), 18u) << "why, 16 addresses, then one line for the rest";
    EXPECT_EQ(lines[0], "I/O base 0x0070 of COM9 refused: 0x0070-0x0077 is in the system board's range "
                        "0x0000-0x00FF, never a serial port");
    EXPECT_EQ(lines[1], "I/O port 0x0070 refused: outside the UART window of the port under test");
    EXPECT_EQ(lines[17], "I/O port refusals: more than 16 addresses in this run, the others are not logged");

    kivu5::Framework::beginRun();
    ASSERT_TRUE(guard.SelectPortUnderTest("COM2", 0x2F8)); // a new run logs afresh
    guard.ReadByte(0x3F8, &value);
    ASSERT_EQ(kivu5::Framework::timeline().size(), 1u);
    EXPECT_EQ(kivu5::Framework::timeline()[0].text,
              "I/O port 0x03F8 refused: the UART of the kernel console is never accessed");
    qen::LoggerPriority::LOGGER_PRIORITY = saved;
}

} // namespace
} // namespace tarntest
