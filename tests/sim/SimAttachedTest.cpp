// What is plugged into the connector: the loopback plug with its faults, the modem and the modem lines
// (formats.md section 2, "attached").
#include "SimTestHelpers.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarnsimtest;
using tarnsim::AttachedConfig;
using tarnsim::CSimulation;

namespace {

std::string Ramp() {
    std::string ramp;
    for (int k = 0; k < 256; ++k) {
        ramp.push_back(static_cast<char>(k));
    }
    return ramp;
}

// One pass of Part 5.6: configure, 32 writes of 8 bytes, 1000 ms, one read of up to 512 bytes.
struct Pass {
    DWORD written = 0;
    std::string read;
};

Pass LoopbackPass(CSimulation& sim, HANDLE handle, DWORD rate) {
    Pass pass;
    EXPECT_TRUE(Configure(sim, handle, rate));
    sim.Sleep(10);
    const std::string ramp = Ramp();
    for (size_t offset = 0; offset < ramp.size(); offset += 8) {
        pass.written += Write(sim, handle, ramp.substr(offset, 8));
    }
    sim.Sleep(1000);
    pass.read = ReadAll(sim, handle, 512);
    return pass;
}

DWORD ModemStatusWith(CSimulation& sim, HANDLE handle, DWORD dtrControl, DWORD rtsControl) {
    DCB dcb = {};
    EXPECT_TRUE(sim.GetCommState(handle, &dcb));
    dcb.fDtrControl = dtrControl & 3u; // a two-bit field
    dcb.fRtsControl = rtsControl & 3u;
    EXPECT_TRUE(sim.SetCommState(handle, &dcb));
    DWORD status = 0xFFFF;
    EXPECT_TRUE(sim.GetCommModemStatus(handle, &status));
    return status;
}

} // namespace

TEST(SimAttached, PresetsAreThoseOfFormatsSection2) {
    AttachedConfig loopback = AttachedConfig::Loopback();
    EXPECT_TRUE(loopback.txToRx && loopback.dtrToDsr && loopback.rtsToCts);
    EXPECT_FALSE(loopback.reply.has_value());
    EXPECT_EQ(AttachedConfig::Modem().reply.value_or(""), "\r\nOK\r\n");
    EXPECT_FALSE(AttachedConfig::Modem().txToRx);
    EXPECT_EQ(AttachedConfig::ModemError().reply.value_or(""), "\r\nERROR\r\n");
    AttachedConfig none = AttachedConfig::None();
    EXPECT_FALSE(none.txToRx || none.dtrToDsr || none.rtsToCts || none.reply.has_value());
}

TEST(SimAttached, BuiltInScenarioIsOneHealthyLoopbackPortAtCom1) {
    tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
    ASSERT_EQ(scenario.ports.size(), 1u);
    EXPECT_TRUE(scenario.driverInstalled);
    EXPECT_EQ(scenario.ports[0].com.value_or(0), 1u);
    EXPECT_EQ(scenario.ports[0].io.value_or(std::vector<uint32_t>{}), std::vector<uint32_t>{1016});
    EXPECT_EQ(scenario.ports[0].uart.model, tarnsim::UartConfig::Model::Uart16550A);
    EXPECT_TRUE(scenario.ports[0].attached.txToRx);
    EXPECT_EQ(scenario.ports[0].DeviceName(), "COM1");
    tarnsim::PortConfig named;
    named.name = "USB Serial";
    EXPECT_EQ(named.DeviceName(), "USB Serial");
}

TEST(SimAttached, LoopbackPlugEchoesTheWholeRamp) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::Loopback()));
    HANDLE handle = Open(sim, 2);
    Pass pass = LoopbackPass(sim, handle, 115200);
    EXPECT_EQ(pass.written, 256u);
    EXPECT_EQ(pass.read, Ramp());
}

TEST(SimAttached, EchoArrivesOneCharacterTimeAfterTheByteWasSent) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::Loopback()));
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 1200));
    const uint64_t before = sim.Clock().NowUs();
    Write(sim, handle, "Q");
    EXPECT_EQ(sim.Clock().NowUs() - before, 10u * 1000000u / 1200u + 1u); // 8333.3 us, rounded up
    EXPECT_EQ(ReadAll(sim, handle), "Q");
}

TEST(SimAttached, NothingAttachedEchoesNothing) {
    CSimulation sim(OnePort());
    HANDLE handle = Open(sim, 2);
    Pass pass = LoopbackPass(sim, handle, 9600);
    EXPECT_EQ(pass.written, 256u);
    EXPECT_EQ(pass.read, "");
}

TEST(SimAttached, DropLosesTheBytesAtThosePositionsOfEachPass) {
    AttachedConfig plug = AttachedConfig::Loopback();
    plug.drop = {100};
    CSimulation sim(OnePort(tarnsim::UartConfig(), plug));
    HANDLE handle = Open(sim, 2);
    for (DWORD rate : {DWORD{9600}, DWORD{19200}}) { // a pass counts from the last SetCommState
        Pass pass = LoopbackPass(sim, handle, rate);
        std::string expected = Ramp();
        expected.erase(100, 1);
        EXPECT_EQ(pass.read, expected) << rate;
    }
}

TEST(SimAttached, AcceptPerWriteReportsOnlyTheAcceptedBytes) {
    AttachedConfig plug = AttachedConfig::Loopback();
    plug.acceptPerWrite = 5;
    CSimulation sim(OnePort(tarnsim::UartConfig(), plug));
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 9600));
    const uint64_t before = sim.Clock().NowUs();
    EXPECT_EQ(Write(sim, handle, "01234567"), 5u);
    EXPECT_EQ(sim.Clock().NowUs() - before, (5u * 10u * 1000000u + 9599u) / 9600u);
    EXPECT_EQ(ReadAll(sim, handle), "01234");
}

TEST(SimAttached, AcceptPerWriteZeroSendsNothing) {
    AttachedConfig plug = AttachedConfig::Loopback();
    plug.acceptPerWrite = 0;
    CSimulation sim(OnePort(tarnsim::UartConfig(), plug));
    HANDLE handle = Open(sim, 2);
    Pass pass = LoopbackPass(sim, handle, 9600);
    EXPECT_EQ(pass.written, 0u);
    EXPECT_EQ(pass.read, "");
}

TEST(SimAttached, AppendZerosFollowEachCompletedPass) {
    AttachedConfig plug = AttachedConfig::Loopback();
    plug.appendZeros = 2;
    CSimulation sim(OnePort(tarnsim::UartConfig(), plug));
    HANDLE handle = Open(sim, 2);
    for (DWORD rate : {DWORD{9600}, DWORD{57600}}) {
        Pass pass = LoopbackPass(sim, handle, rate);
        EXPECT_EQ(pass.read, Ramp() + std::string(2, '\0')) << rate;
    }
}

TEST(SimAttached, AppendZerosWaitForTheWhole256Bytes) {
    AttachedConfig plug = AttachedConfig::Loopback();
    plug.appendZeros = 2;
    CSimulation sim(OnePort(tarnsim::UartConfig(), plug));
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 9600));
    Write(sim, handle, std::string(255, 'a'));
    sim.Sleep(10);
    EXPECT_EQ(ReadAll(sim, handle).size(), 255u);
    Write(sim, handle, "b");
    EXPECT_EQ(ReadAll(sim, handle), "b"); // the zeros come one and two characters after the last byte
    sim.Sleep(3);
    EXPECT_EQ(ReadAll(sim, handle), std::string(2, '\0'));
    Write(sim, handle, "c"); // byte 257 of the pass: no more zeros
    sim.Sleep(3);
    EXPECT_EQ(ReadAll(sim, handle), "c");
}

TEST(SimAttached, ModemAnswersATAfter20Ms) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::Modem()));
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 9600));
    EXPECT_EQ(Write(sim, handle, "AT\r"), 3u); // returns when the '\r' has arrived at the modem
    const uint64_t charUs = (10u * 1000000u + 9599u) / 9600u;
    sim.Sleep(20);
    EXPECT_EQ(ReadAll(sim, handle, 10), ""); // nothing before 20 ms
    sim.Clock().AdvanceUs(charUs - 1);
    EXPECT_EQ(ReadAll(sim, handle, 10), ""); // the first character is still on the line
    sim.Clock().AdvanceUs(1);
    EXPECT_EQ(ReadAll(sim, handle, 10), "\r");
    sim.Sleep(6); // the other five characters at 9600 take 5.2 ms
    EXPECT_EQ(ReadAll(sim, handle, 10), "\nOK\r\n");
}

TEST(SimAttached, ModemErrorAnswersWithError) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::ModemError()));
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 9600));
    Write(sim, handle, "AT\r");
    sim.Sleep(350);
    EXPECT_EQ(ReadAll(sim, handle, 10), "\r\nERROR\r\n");
}

TEST(SimAttached, ModemAnswersOnlyTheThreeBytesATReturnInOrder) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::Modem()));
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 9600));
    Write(sim, handle, "ATZ\r");
    Write(sim, handle, "TA\r");
    sim.Sleep(350);
    EXPECT_EQ(ReadAll(sim, handle, 10), "");
    Write(sim, handle, "A");
    Write(sim, handle, "T\r"); // split over two writes still counts
    sim.Sleep(350);
    EXPECT_EQ(ReadAll(sim, handle, 10), "\r\nOK\r\n");
    Write(sim, handle, "AT\r"); // answered again after a reply
    sim.Sleep(350);
    EXPECT_EQ(ReadAll(sim, handle, 10), "\r\nOK\r\n");
}

TEST(SimAttached, LoopbackPlugModemLinesFollowDtrAndRtsControl) {
    CSimulation sim(OnePort(tarnsim::UartConfig(), AttachedConfig::Loopback()));
    HANDLE handle = Open(sim, 2);
    ASSERT_TRUE(Configure(sim, handle, 9600));
    EXPECT_EQ(ModemStatusWith(sim, handle, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE), MS_CTS_ON);
    EXPECT_EQ(ModemStatusWith(sim, handle, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE), MS_CTS_ON | MS_DSR_ON);
    EXPECT_EQ(ModemStatusWith(sim, handle, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE), MS_DSR_ON);
    EXPECT_EQ(ModemStatusWith(sim, handle, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE), 0u);
    EXPECT_EQ(ModemStatusWith(sim, handle, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_HANDSHAKE),
              MS_CTS_ON | MS_DSR_ON);
}

TEST(SimAttached, NoPlugLeavesDsrAndCtsOff) {
    CSimulation sim(OnePort());
    HANDLE handle = Open(sim, 2);
    EXPECT_EQ(ModemStatusWith(sim, handle, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE), 0u);
}

TEST(SimAttached, HeldLinesOverrideTheWiring) {
    AttachedConfig plug = AttachedConfig::Loopback();
    plug.dsr = AttachedConfig::Hold::High;
    plug.cts = AttachedConfig::Hold::Low;
    CSimulation sim(OnePort(tarnsim::UartConfig(), plug));
    HANDLE handle = Open(sim, 2);
    EXPECT_EQ(ModemStatusWith(sim, handle, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE), MS_DSR_ON);
    EXPECT_EQ(ModemStatusWith(sim, handle, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE), MS_DSR_ON);
    sim.Attached(0).cts = AttachedConfig::Hold::Wired; // read live
    EXPECT_EQ(ModemStatusWith(sim, handle, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE), MS_DSR_ON | MS_CTS_ON);
}

TEST(SimAttached, HeldHighLineWithoutPlug) {
    AttachedConfig nothing = AttachedConfig::None();
    nothing.cts = AttachedConfig::Hold::High;
    CSimulation sim(OnePort(tarnsim::UartConfig(), nothing));
    HANDLE handle = Open(sim, 2);
    EXPECT_EQ(ModemStatusWith(sim, handle, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE), MS_CTS_ON);
}
