// The port object's own rules, which the tests never break in a run: calls on a closed port are
// programming errors, a rate without a settable-rates bit needs no port, Configure reports the previous
// rate before anything can fail.
#include "SerialPort.h"
#include "UnitSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace tarntest {
namespace {

TEST(PortObject, CallsOnAClosedPortAssertBeforeReachingTheDriver) {
    SimulatedPort sim;
    CSerialPort port(1, 0x3F8);
    DCB dcb = {};
    DWORD status = 0, count = 0;
    COMMPROP properties = {};
    unsigned rate = 0;
    char buffer[8] = {};
    const std::vector<std::function<void()>> calls = {
        [&] { port.Configure(9600, nullptr); },
        [&] { port.Read(buffer, 8, &count); },
        [&] { port.Write(buffer, 8, &count); },
        [&] { port.GetState(&dcb); },
        [&] { port.SetState(&dcb); },
        [&] { port.GetModemStatus(&status); },
        [&] { port.GetProperties(&properties); },
        [&] { port.GetBaudRate(&rate); },
        [&] { port.IsBaudRateSupported(9600); },
    };
    for (size_t i = 0; i < calls.size(); ++i) {
        try {
            calls[i]();
            ADD_FAILURE() << "call " << i << " did not assert";
        } catch (const qen::AssertionFailure& failure) {
            EXPECT_EQ(failure.getSourceFile(), "SerialPort") << i;
            EXPECT_EQ(failure.getExpression(), "m_PortHandle != INVALID_HANDLE_VALUE") << i;
        }
    }
    EXPECT_FALSE(port.IsBaudRateSupported(110)) << "no settable-rates bit: refused without the port";
    EXPECT_TRUE(port.Close()) << "closing a closed port is fine";
    EXPECT_EQ(sim.Calls("CloseHandle") + sim.Calls("GetCommProperties") + sim.Calls("GetCommState"), 0u);
}

TEST(PortObject, ConfigureGivesThePreviousRateBeforeALaterStepFails) {
    tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
    scenario.ports[0].os.baud = 4800;
    scenario.ports[0].os.fail = {"SetupComm"};
    SimulatedPort sim(scenario);
    CSerialPort port(1, 0x3F8);
    ASSERT_TRUE(port.Open());
    unsigned previous = 0;
    EXPECT_FALSE(port.Configure(19200, &previous));
    EXPECT_EQ(previous, 4800u);
    EXPECT_EQ(sim.Calls("SetCommState"), 0u) << "stops at the first failing call";
}

} // namespace
} // namespace tarntest
