// --allow-io: parsed strictly (bad values are bad input with one line), repeatable, never with --sim; its
// effect on the guard, with one warning line per window; never the kernel console's UART.
#include "GuardSupport.h"

#include "host/CommandLine.h"
#include "host/HostError.h"
#include "host/IoGuardSetup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace guardtests {
namespace {

using tarnhost::CHostInputError;

// The stderr line and exit status that ParseCommandLine's error would give, or "ok".
std::string ErrorLine(const std::vector<std::string>& args) {
    try {
        tarnhost::ParseCommandLine(args);
        return "ok";
    } catch (const CHostInputError& e) {
        return e.Line() + " (exit " + std::to_string(e.ExitStatus()) + ")";
    }
}

std::string AllowIoError(const std::string& value) {
    return ErrorLine({"--allow-io", value});
}

TEST(AllowIo, HexBasesAreAccepted) {
    EXPECT_EQ(tarnhost::ParseAllowIo("0x2E8"), 0x2E8u);
    EXPECT_EQ(tarnhost::ParseAllowIo("0X2e8"), 0x2E8u);
    EXPECT_EQ(tarnhost::ParseAllowIo("0x0100"), 0x100u);
    EXPECT_EQ(tarnhost::ParseAllowIo("0x00000000000003E8"), 0x3E8u); // leading zeros are still the number
    EXPECT_EQ(tarnhost::ParseAllowIo("0xCF0"), 0xCF0u);              // ends at 0xCF7, below PCI configuration
    EXPECT_EQ(tarnhost::ParseAllowIo("0xFFF8"), 0xFFF8u);            // the last window of the I/O space
}

TEST(AllowIo, AnythingButAHexBaseIsBadInput) {
    for (const char* value : {"2E8", "760", "0x", "0xG", "0x2E8 ", " 0x2E8", "-0x2E8", "+0x2E8", "0x2E8h",
                              "x2E8", "", "0b1011", "0x2E8,0x3E8"}) {
        EXPECT_EQ(AllowIoError(value),
                  std::string("tarnserialport: --allow-io: \"") + value +
                      "\" is not an I/O base written in 0x hex (for example 0x2E8) (exit 2)")
            << value;
    }
}

TEST(AllowIo, WindowsThatCanHoldNoUartAreBadInput) {
    EXPECT_EQ(AllowIoError("0x70"),
              "tarnserialport: --allow-io: 0x0070-0x0077 is in the system board's range "
              "0x0000-0x00FF, never a serial port (exit 2)");
    EXPECT_EQ(AllowIoError("0x0"), "tarnserialport: --allow-io: 0x0000-0x0007 is in the system board's range "
                                   "0x0000-0x00FF, never a serial port (exit 2)");
    EXPECT_EQ(AllowIoError("0xCF8"),
              "tarnserialport: --allow-io: 0x0CF8-0x0CFF overlaps the PCI configuration and "
              "reset ports 0x0CF8-0x0CFF, never a serial port (exit 2)");
    EXPECT_EQ(AllowIoError("0xCF1"),
              "tarnserialport: --allow-io: 0x0CF1-0x0CF8 overlaps the PCI configuration and "
              "reset ports 0x0CF8-0x0CFF, never a serial port (exit 2)");
    EXPECT_EQ(AllowIoError("0xFFFC"),
              "tarnserialport: --allow-io: 0xFFFC-0x10003 passes the end of the 16-bit I/O "
              "space (0x0000-0xFFFF) (exit 2)");
    EXPECT_EQ(AllowIoError("0x10000"),
              "tarnserialport: --allow-io: \"0x10000\" is beyond the 16-bit I/O space "
              "(0x0000-0xFFFF) (exit 2)");
    EXPECT_EQ(AllowIoError("0xFFFFFFFFFFFFFFFFFFFF2E8"),
              "tarnserialport: --allow-io: \"0xFFFFFFFFFFFFFFFFFFFF2E8\" "
              "is beyond the 16-bit I/O space (0x0000-0xFFFF) (exit 2)");
}

TEST(AllowIo, AHugeValueGivesAShortLine) {
    std::string line = AllowIoError(std::string(100000, 'Z'));
    EXPECT_EQ(line, "tarnserialport: --allow-io: \"" + std::string(37, 'Z') +
                        "...\" is not an I/O base written in 0x hex (for example 0x2E8) (exit 2)");
}

TEST(AllowIo, MissingValueIsBadInput) {
    EXPECT_EQ(ErrorLine({"--allow-io"}), "tarnserialport: --allow-io: needs a value (exit 2)");
}

TEST(AllowIo, RepeatableDistinctInTheOrderGiven) {
    tarnhost::HostOptions options = tarnhost::ParseCommandLine(
        {"--allow-io", "0x2E8", "--device", "COM4", "--allow-io", "0x3e8", "--allow-io", "0x02E8"});
    EXPECT_EQ(options.allowIo, (std::vector<uint32_t>{0x2E8, 0x3E8}));
    EXPECT_TRUE(tarnhost::ParseCommandLine({}).allowIo.empty());
}

TEST(AllowIo, WithSimIsBadInput) {
    EXPECT_EQ(
        ErrorLine({"--sim", "--allow-io", "0x2E8"}),
        "tarnserialport: --allow-io: has no effect with --sim (simulated hardware has no I/O-port guard) "
        "(exit 2)");
    EXPECT_EQ(
        ErrorLine({"--allow-io", "0x2E8", "--sim", "x.json"}),
        "tarnserialport: --allow-io: has no effect with --sim (simulated hardware has no I/O-port guard) "
        "(exit 2)");
    // A bad value is named first, whatever else is wrong.
    EXPECT_EQ(
        ErrorLine({"--sim", "--allow-io", "0x70"}),
        "tarnserialport: --allow-io: 0x0070-0x0077 is in the system board's range 0x0000-0x00FF, never a "
        "serial port (exit 2)");
}

TEST(AllowIo, TheHelpTextNamesIt) {
    std::string usage = tarnhost::UsageText();
    EXPECT_NE(usage.find(
                  "  --allow-io 0xNNN        let the register tests also reach the 8 I/O ports from 0xNNN, "),
              std::string::npos)
        << usage;
    EXPECT_NE(usage.find("never the kernel console's UART"), std::string::npos);
}

// The host's configuration of the guard, with a recording fake in place of /dev/port.
class AllowIoEffect : public ::testing::Test {
protected:
    void SetUp() override { m_Warnings = std::tmpfile(); }
    void TearDown() override { std::fclose(m_Warnings); }
    std::string Warnings() {
        std::rewind(m_Warnings);
        std::string text;
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, m_Warnings)) {
            text += buffer;
        }
        return text;
    }
    static kivu5::DiagDevice Device(const std::string& name, std::vector<uint32_t> bases) {
        kivu5::DiagDevice device(name);
        device.setProperty("IoBaseAddresses", kivu5::Value::Uint32Array(std::move(bases)));
        return device;
    }
    static std::vector<tarnos::UartWindow> Platform() {
        return {tarnos::UartWindow{0x3F8, "COM1", true}, tarnos::UartWindow{0x2F8, "COM2", false}};
    }

    std::FILE* m_Warnings = nullptr;
    CRecordingPortIo m_Backend;
    tarnos::CIoPortGuard m_Guard{m_Backend};
};

TEST_F(AllowIoEffect, WithoutItAWindowThePlatformDoesNotReportIsRefused) {
    tarnhost::ConfigureIoGuard(m_Guard, Platform(), {}, m_Warnings);
    EXPECT_EQ(Warnings(), "");
    EXPECT_TRUE(tarnhost::NarrowIoGuard(m_Guard, Device("COM2", {0x2F8})));
    EXPECT_FALSE(tarnhost::NarrowIoGuard(m_Guard, Device("COM9", {0x2E8})));
    unsigned char value = 0;
    m_Guard.ReadByte(0x2E8, &value);
    EXPECT_TRUE(m_Backend.Ports().empty());
}

TEST_F(AllowIoEffect, WithItThatWindowPassesForThePortThatClaimsItAndAWarningSaysSo) {
    tarnhost::ConfigureIoGuard(m_Guard, Platform(), {0x2E8, 0x3E8}, m_Warnings);
    EXPECT_EQ(Warnings(),
              "tarnserialport: warning: --allow-io: I/O ports 0x02E8-0x02EF may be reached for any port "
              "under test whose I/O base is 0x02E8, whatever the platform reports (the kernel console's "
              "UART never)\n"
              "tarnserialport: warning: --allow-io: I/O ports 0x03E8-0x03EF may be reached for any port "
              "under test whose I/O base is 0x03E8, whatever the platform reports (the kernel console's "
              "UART never)\n");
    ASSERT_TRUE(tarnhost::NarrowIoGuard(m_Guard, Device("COM9", {0x2E8, 0x3F8})));
    unsigned char value = 0;
    EXPECT_EQ(m_Guard.ReadByte(0x2EF, &value), 0);
    EXPECT_NE(m_Guard.ReadByte(0x2F0, &value), 0);
    EXPECT_NE(m_Guard.ReadByte(0x3E8, &value), 0)
        << "only element 0 of IoBaseAddresses is the port under test";
    EXPECT_EQ(m_Backend.m_Reads, std::vector<uint16_t>{0x2EF});
}

TEST_F(AllowIoEffect, TheKernelConsolesWindowIsBadInputEvenWithIt) {
    try {
        tarnhost::ConfigureIoGuard(m_Guard, Platform(), {0x2E8, 0x3F8}, m_Warnings);
        ADD_FAILURE() << "0x3F8 is the console's";
    } catch (const CHostInputError& e) {
        EXPECT_EQ(e.Line(),
                  "tarnserialport: --allow-io: 0x03F8-0x03FF overlaps the UART of the kernel console "
                  "(COM1, 0x03F8-0x03FF), never accessed, not even with --allow-io");
        EXPECT_EQ(e.ExitStatus(), 2);
    }
    EXPECT_THROW(tarnhost::ConfigureIoGuard(m_Guard, Platform(), {0x3FF}, m_Warnings), CHostInputError);
    EXPECT_THROW(tarnhost::ConfigureIoGuard(m_Guard, Platform(), {0x3F1}, m_Warnings), CHostInputError);
    EXPECT_NO_THROW(tarnhost::ConfigureIoGuard(m_Guard, Platform(), {0x3F0, 0x400}, m_Warnings)); // beside it
}

TEST_F(AllowIoEffect, ConfiguringAgainForgetsTheEarlierWindows) {
    tarnhost::ConfigureIoGuard(m_Guard, Platform(), {0x2E8}, m_Warnings);
    tarnhost::ConfigureIoGuard(m_Guard, {}, {}, m_Warnings);
    EXPECT_FALSE(tarnhost::NarrowIoGuard(m_Guard, Device("COM9", {0x2E8})));
    EXPECT_FALSE(tarnhost::NarrowIoGuard(m_Guard, Device("COM2", {0x2F8})));
}

TEST_F(AllowIoEffect, ADeviceWithoutOrWithAnEmptyBaseGetsNoWindow) {
    tarnhost::ConfigureIoGuard(m_Guard, Platform(), {}, m_Warnings);
    EXPECT_FALSE(tarnhost::NarrowIoGuard(m_Guard, kivu5::DiagDevice("COM33")));
    EXPECT_FALSE(tarnhost::NarrowIoGuard(m_Guard, Device("COM2", {})));
}

} // namespace
} // namespace guardtests
