// Part 3.2: the testability screen of the internal tests (IDs 1, 2 and 3): the standard I/O bases, the
// infrared probe of a banked UART with its exact register trace, and the LCR put back afterwards. The probe
// runs through the real entry functions; the register trace before the dispatcher's CreateFileW is the probe.
#include "support/SimFixture.h"
#include "support/Timeline.h"

#include "os/OsBackend.h"

#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <vector>

using kivu5::TestResult;

namespace {

// A byte as two hex digits: "0x8" of the call trace becomes "0x08".
std::string Byte(const std::string& hex) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02lX", std::stoul(hex, nullptr, 16));
    return text;
}

// Register accesses ("R 0x3FB -> 0x1B", "W 0x3FB <- 0xE4") before the first CreateFileW of the run.
std::vector<std::string> ProbeTrace() {
    std::vector<std::string> out;
    for (const tarnos::TraceEntry& e : tarnos::CallTrace::Instance().Entries()) {
        if (e.call == "CreateFileW") {
            break;
        }
        if (e.call == "PortReadByte") {
            size_t blank = e.result.find(' ');
            out.push_back("R " + e.args[0] + " -> " +
                          (blank == std::string::npos ? "fail" : Byte(e.result.substr(blank + 1))));
        } else if (e.call == "PortWriteByte") {
            out.push_back("W " + e.args[0] + " <- " + Byte(e.args[1]));
        }
    }
    return out;
}

size_t Calls(const std::string& call) {
    return tarnos::CallTrace::Instance().Only({call}).size();
}

// A scripted UART for the cases the scenario cannot express: each read of an address takes the next value of
// its script (the last one repeats; unscripted addresses read 0x00); writes are kept per address.
class CScriptedPortIo : public tarnos::IPortIoBackend {
public:
    void Script(unsigned short address, std::vector<unsigned char> values) {
        m_reads[address] = std::deque<unsigned char>(values.begin(), values.end());
    }
    bool DriverOpen() override { return true; }
    int ReadByte(unsigned short port, unsigned char* value) override {
        std::deque<unsigned char>& script = m_reads[port];
        *value = script.empty() ? 0x00 : script.front();
        if (script.size() > 1) {
            script.pop_front();
        }
        return 0;
    }
    int WriteByte(unsigned short port, unsigned char value) override {
        m_written[port].push_back(value);
        return 0;
    }
    std::vector<unsigned char> Written(unsigned short port) { return m_written[port]; }

private:
    std::map<unsigned short, std::deque<unsigned char>> m_reads;
    std::map<unsigned short, std::vector<unsigned char>> m_written;
};

tarnsim::Scenario OnePort(uint32_t com, uint32_t io, tarnsim::UartConfig::Model model) {
    tarnsim::PortConfig port;
    port.com = com;
    port.io = std::vector<uint32_t>{io};
    port.uart.model = model;
    tarnsim::Scenario scenario;
    scenario.ports.push_back(port);
    return scenario;
}

const char* const INTERNAL_TESTS[] = {"InternalControlSignalsTest", "InternalRegisterTest",
                                      "InternalSendAndReceiveTest"};

} // namespace

class Part3_2_PortScreening : public tarntest::SimTest {
protected:
    void TearDown() override {
        if (m_scripted) {
            Sim().Install(); // the simulation answers both sides again before the fixture uninstalls it
        }
        SimTest::TearDown();
    }
    // The simulation keeps the Win32 side; the scripted UART answers the registers.
    CScriptedPortIo& Scripted() {
        tarnos::SetBackends(&Sim(), &m_portIo);
        m_scripted = true;
        return m_portIo;
    }
    // A banked UART of the scenario, its LCR preset (bank 0) and MCR preset without going through the trace.
    void UseBanked(uint32_t io, uint8_t id, uint8_t ircr, uint8_t excr1, uint8_t mcrMode, uint8_t lcr,
                   uint8_t mcr) {
        tarnsim::Scenario scenario = OnePort(2, io, tarnsim::UartConfig::Model::NsBanked);
        scenario.ports[0].uart.id = id;
        scenario.ports[0].uart.ircr = ircr;
        scenario.ports[0].uart.excr1 = excr1;
        scenario.ports[0].uart.mcrMode = mcrMode;
        Use(scenario);
        Sim().WriteByte(static_cast<unsigned short>(io + 4), mcr);
        Sim().WriteByte(static_cast<unsigned short>(io + 3), lcr);
    }
    CScriptedPortIo m_portIo;
    bool m_scripted = false;
};

// Edge case: an internal test on a port with I/O base 0x3E0 is testable without any register access.
TEST_F(Part3_2_PortScreening, InternalTestAtBase0x3E0IsTestableWithoutRegisterAccess) {
    for (const char* test : INTERNAL_TESTS) {
        // An infrared-mode banked UART: probed at a standard base it would be refused.
        UseBanked(0x3E0, 0x20, 0x0C, 0x00, 0, 0x03, 0x00);
        Sim().Os(0).settableBaud = 0; // keeps the send and receive body short: every row skipped
        kivu5::RunOutcome outcome = Run(test);
        EXPECT_TRUE(ProbeTrace().empty()) << test << ": " << testing::PrintToString(ProbeTrace());
        EXPECT_EQ(Calls("CreateFileW"), 1u) << test << ": testable, so the dispatcher opened the port";
        EXPECT_EQ(tarntest::Count(outcome.timeline, "event informative NotTestable {PortNumber:text=COM2}"),
                  0u);
    }
}

// Edge case: one with NO_IO_BASE_ADDRESS is testable too (the body then answers NOTSUPPORTED).
TEST_F(Part3_2_PortScreening, InternalTestWithNoIoBaseAddressIsTestable) {
    for (const char* test : INTERNAL_TESTS) {
        tarnsim::Scenario scenario = OnePort(1, 0x3F8, tarnsim::UartConfig::Model::NsBanked);
        scenario.ports[0].io.reset();
        Use(scenario);
        kivu5::RunOutcome outcome = Run(test);
        EXPECT_EQ(outcome.result, TestResult::NOTSUPPORTED()) << test;
        EXPECT_EQ(Calls("CreateFileW"), 1u) << test << ": the screen let it through to the dispatcher's Open";
        EXPECT_EQ(Calls("PortReadByte") + Calls("PortWriteByte"), 0u) << test;
        EXPECT_EQ(tarntest::EventNames(outcome.timeline), std::vector<std::string>{}) << test;
    }
}

// The four standard bases are probed, in the order 0x2F8, 0x3F8, 0x2E8, 0x3E8; any other base is not.
TEST_F(Part3_2_PortScreening, OnlyTheFourStandardBasesAreProbed) {
    for (uint32_t base : {0x2F8u, 0x3F8u, 0x2E8u, 0x3E8u}) {
        UseBanked(base, 0x20, 0x0C, 0x00, 0, 0x03, 0x00);
        kivu5::RunOutcome outcome = Run("InternalRegisterTest");
        EXPECT_EQ(outcome.result, TestResult::NOTSUPPORTED()) << std::hex << base;
        EXPECT_FALSE(ProbeTrace().empty()) << std::hex << base;
    }
    for (uint32_t base : {0x2F0u, 0x3F0u, 0x2E0u, 0x3E9u, 0x100u}) {
        UseBanked(base, 0x20, 0x0C, 0x00, 0, 0x03, 0x00);
        Run("InternalRegisterTest");
        EXPECT_TRUE(ProbeTrace().empty()) << std::hex << base;
    }
}

// Edge case: at base 0x3F8, offset 0 reading two different values after 0xE4 is written: testable, and the
// LCR holds its saved value afterwards.
TEST_F(Part3_2_PortScreening, Base0x3F8OffsetZeroReadingTwoValuesAfterBank3SelectIsTestableAndLcrRestored) {
    Use(OnePort(1, 0x3F8, tarnsim::UartConfig::Model::Uart16550A));
    CScriptedPortIo& uart = Scripted();
    uart.Script(0x3FB, {0x9B});
    uart.Script(0x3F8, {0x21, 0x22});
    kivu5::RunOutcome outcome = Run("InternalRegisterTest");
    const std::vector<std::string> expected = {"R 0x3FB -> 0x9B", "W 0x3FB <- 0xE4", "R 0x3F8 -> 0x21",
                                               "R 0x3F8 -> 0x22", "W 0x3FB <- 0x9B"};
    EXPECT_EQ(ProbeTrace(), expected);
    EXPECT_EQ(uart.Written(0x3FB), (std::vector<unsigned char>{0xE4, 0x9B}))
        << "the last LCR write is the saved value";
    EXPECT_EQ(outcome.result, TestResult::PASS()) << "testable: the body ran";
    EXPECT_EQ(Calls("CreateFileW"), 1u);
}

// Edge case: at base 0x2F8, identification 0x25, bank-4 offset 2 reading 0x08 three times and bank-0 offset 2
// then reading 0xC1: not testable.
TEST_F(Part3_2_PortScreening, Base0x2F8Id0x25InfraredControl0x08ThenBank0Offset2Reading0xC1IsNotTestable) {
    Use(OnePort(2, 0x2F8, tarnsim::UartConfig::Model::Uart16550A));
    CScriptedPortIo& uart = Scripted();
    uart.Script(0x2FB, {0x9B});
    uart.Script(0x2F8, {0x25});
    uart.Script(0x2FA, {0x08, 0x08, 0x08, 0xC1});
    kivu5::RunOutcome outcome = Run("InternalRegisterTest");
    const std::vector<std::string> expected = {"R 0x2FB -> 0x9B", "W 0x2FB <- 0xE4", "R 0x2F8 -> 0x25",
                                               "R 0x2F8 -> 0x25", "R 0x2F8 -> 0x25", "W 0x2FB <- 0xE8",
                                               "R 0x2FA -> 0x08", "R 0x2FA -> 0x08", "R 0x2FA -> 0x08",
                                               "W 0x2FB <- 0x1B", "R 0x2FA -> 0xC1", "W 0x2FB <- 0x9B"};
    EXPECT_EQ(ProbeTrace(), expected);
    EXPECT_EQ(outcome.result, TestResult::NOTSUPPORTED());
    EXPECT_EQ(tarntest::Count(outcome.timeline, "event informative NotTestable {PortNumber:text=COM2}"), 1u);
    EXPECT_EQ(Calls("CreateFileW"), 0u);
}

// Step 7.3 the other way: bank-0 offset 2 reading what bank 4 read means no infrared mode (testable); and
// step 7.1: the two further bank-4 reads differing means testable too.
TEST_F(Part3_2_PortScreening, Base0x2F8InfraredControlReadingTheSameInBank0OrUnstableIsTestable) {
    Use(OnePort(2, 0x2F8, tarnsim::UartConfig::Model::Uart16550A));
    CScriptedPortIo& same = Scripted();
    same.Script(0x2FB, {0x03});
    same.Script(0x2F8, {0x25});
    same.Script(0x2FA, {0x08, 0x08, 0x08, 0x08});
    EXPECT_EQ(Run("InternalRegisterTest").result, TestResult::PASS());
    EXPECT_EQ(Calls("CreateFileW"), 1u);

    Use(OnePort(2, 0x2F8, tarnsim::UartConfig::Model::Uart16550A));
    m_portIo = CScriptedPortIo();
    CScriptedPortIo& unstable = Scripted();
    unstable.Script(0x2FB, {0x03});
    unstable.Script(0x2F8, {0x25});
    unstable.Script(0x2FA, {0x04, 0x04, 0x0C, 0xC1});
    EXPECT_EQ(Run("InternalRegisterTest").result, TestResult::PASS());
    const std::vector<std::string> expected = {
        "R 0x2FB -> 0x03", "W 0x2FB <- 0xE4", "R 0x2F8 -> 0x25", "R 0x2F8 -> 0x25", "R 0x2F8 -> 0x25",
        "W 0x2FB <- 0xE8", "R 0x2FA -> 0x04", "R 0x2FA -> 0x04", "R 0x2FA -> 0x0C", "W 0x2FB <- 0x03"};
    EXPECT_EQ(ProbeTrace(), expected);
}

// Edge case: at base 0x2F8, identification 0x25, bank-4 offset 2 reading 0x00, bank-2 offset 2 reading 0x01
// twice, MCR reading 0x40: not testable.
TEST_F(Part3_2_PortScreening, Base0x2F8Id0x25ExtendedModeWithMcr0x40IsNotTestable) {
    UseBanked(0x2F8, 0x25, 0x00, 0x01, 0x40, 0x9B, 0x00);
    kivu5::RunOutcome outcome = Run("InternalRegisterTest");
    const std::vector<std::string> expected = {
        "R 0x2FB -> 0x9B", "W 0x2FB <- 0xE4", "R 0x2F8 -> 0x25", "R 0x2F8 -> 0x25", "R 0x2F8 -> 0x25",
        "W 0x2FB <- 0xE8", "R 0x2FA -> 0x00", "W 0x2FB <- 0xE0", "R 0x2FA -> 0x01", "R 0x2FA -> 0x01",
        "W 0x2FB <- 0x1B", "R 0x2FC -> 0x40", "W 0x2FB <- 0x9B"};
    EXPECT_EQ(ProbeTrace(), expected);
    EXPECT_EQ(outcome.result, TestResult::NOTSUPPORTED());
    EXPECT_EQ(tarntest::Count(outcome.timeline, "event informative NotTestable {PortNumber:text=COM2}"), 1u);
    EXPECT_EQ(Sim().UartRegister(0, 3), 0x9B) << "the LCR holds its saved value";
}

// Edge case: the same with MCR reading 0x0B instead: testable.
TEST_F(Part3_2_PortScreening, Base0x2F8Id0x25ExtendedModeWithMcr0x0BIsTestable) {
    UseBanked(0x2F8, 0x25, 0x00, 0x01, 0x00, 0x9B, 0x0B);
    kivu5::RunOutcome outcome = Run("InternalRegisterTest");
    const std::vector<std::string> expected = {
        "R 0x2FB -> 0x9B", "W 0x2FB <- 0xE4", "R 0x2F8 -> 0x25", "R 0x2F8 -> 0x25", "R 0x2F8 -> 0x25",
        "W 0x2FB <- 0xE8", "R 0x2FA -> 0x00", "W 0x2FB <- 0xE0", "R 0x2FA -> 0x01", "R 0x2FA -> 0x01",
        "W 0x2FB <- 0x1B", "R 0x2FC -> 0x0B", "W 0x2FB <- 0x9B"};
    EXPECT_EQ(ProbeTrace(), expected);
    EXPECT_EQ(tarntest::Count(outcome.timeline, "event informative NotTestable {PortNumber:text=COM2}"), 0u);
    EXPECT_EQ(Calls("CreateFileW"), 1u);
}

// Step 8.2: bank-2 offset 2 with bit 0x01 clear is no extended mode: testable, MCR not read.
TEST_F(Part3_2_PortScreening, Base0x2F8ExtendedControlWithBit0ClearIsTestableWithoutReadingMcr) {
    UseBanked(0x2F8, 0x25, 0x00, 0x00, 0xE0, 0x03, 0x00);
    Run("InternalRegisterTest");
    const std::vector<std::string> expected = {"R 0x2FB -> 0x03", "W 0x2FB <- 0xE4", "R 0x2F8 -> 0x25",
                                               "R 0x2F8 -> 0x25", "R 0x2F8 -> 0x25", "W 0x2FB <- 0xE8",
                                               "R 0x2FA -> 0x00", "W 0x2FB <- 0xE0", "R 0x2FA -> 0x00",
                                               "R 0x2FA -> 0x00", "W 0x2FB <- 0x03"};
    EXPECT_EQ(ProbeTrace(), expected);
    EXPECT_EQ(Calls("CreateFileW"), 1u);
}

// Edge case: identification upper bits 0x40: testable, after exactly three reads of offset 0 and the LCR
// writes 0xE4 and the saved value.
TEST_F(Part3_2_PortScreening, IdentificationUpperBits0x40IsTestableAfterExactlyThreeReadsOfOffset0) {
    tarnsim::Scenario scenario = OnePort(1, 0x3F8, tarnsim::UartConfig::Model::NsBanked);
    scenario.ports[0].uart.id = 0x40;
    scenario.ports[0].uart.ircr = 0x0C; // would be infrared mode, were the design one of 0x10, 0x20, 0x30
    Use(scenario);
    Sim().WriteByte(0x3FB, 0x1B);
    kivu5::RunOutcome outcome = Run("InternalRegisterTest");
    const std::vector<std::string> expected = {"R 0x3FB -> 0x1B", "W 0x3FB <- 0xE4", "R 0x3F8 -> 0x40",
                                               "R 0x3F8 -> 0x40", "R 0x3F8 -> 0x40", "W 0x3FB <- 0x1B"};
    EXPECT_EQ(ProbeTrace(), expected);
    EXPECT_EQ(outcome.result, TestResult::PASS());
    EXPECT_EQ(Sim().UartRegister(0, 3), 0x1B);
}

// The identification designs 0x10, 0x20 and 0x30 are all recognised (an infrared-mode UART is refused).
TEST_F(Part3_2_PortScreening, IdentificationDesigns0x1x0x2xAnd0x3xAreProbedFurther) {
    for (int id : {0x10, 0x2F, 0x3A}) {
        UseBanked(0x3F8, static_cast<uint8_t>(id), 0x0C, 0x00, 0, 0x03, 0x00);
        EXPECT_EQ(Run("InternalControlSignalsTest").result, TestResult::NOTSUPPORTED()) << id;
    }
    for (int id : {0x00, 0x0F, 0x40, 0xF0}) {
        UseBanked(0x3F8, static_cast<uint8_t>(id), 0x0C, 0x00, 0, 0x03, 0x00);
        Run("InternalControlSignalsTest");
        EXPECT_EQ(ProbeTrace().size(), 6u) << id << ": stops after the identification";
    }
}
