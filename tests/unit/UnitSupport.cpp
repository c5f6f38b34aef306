#include "UnitSupport.h"

#include "SerialPortTest.h"

#include "os/CallTrace.h"
#include "sim/Devices.h"

namespace tarntest {
namespace {
std::function<int()> g_StartBehaviour;
} // namespace

SimulatedPort::SimulatedPort(const tarnsim::Scenario& scenario) : m_sim(new tarnsim::CSimulation(scenario)) {
    m_sim->Install();
    tarnos::CallTrace::Instance().Enable(true);
    tarnos::CallTrace::Instance().Clear();
    g_PromptForLoopback = true;
}

SimulatedPort::~SimulatedPort() {
    tarnos::CallTrace::Instance().Enable(false);
    m_sim->Uninstall();
}

kivu5::RunOutcome SimulatedPort::RunId(int testID) {
    kivu5::Framework::beginRun();
    kivu5::RunOutcome outcome;
    CSerialPortTest test(testID);
    outcome.result = test.RunTest(tarnsim::MakeDevice(m_sim->GetScenario().ports.at(0)));
    outcome.timeline = kivu5::Framework::timeline();
    return outcome;
}

size_t SimulatedPort::Calls(const std::string& call) const {
    return tarnos::CallTrace::Instance().Only({call}).size();
}

void SetStartBehaviour(std::function<int()> behaviour) {
    g_StartBehaviour = std::move(behaviour);
}

} // namespace tarntest

namespace kivu5 {
int HostStart() {
    Framework::runModuleInit();
    return tarntest::g_StartBehaviour ? tarntest::g_StartBehaviour() : 0;
}
} // namespace kivu5
