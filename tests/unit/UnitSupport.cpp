#include "UnitSupport.h"

#include "SerialPortTest.h"

#include "sim/Devices.h"

namespace tarntest {
namespace {
std::function<int()> g_StartBehaviour;
} // namespace

SimulatedPort::SimulatedPort(const tarnsim::Scenario& scenario)
    : m_sim(new tarnsim::CSimulation(scenario)), m_calls(std::tmpfile()),
      m_recorder(new tarnos::CCallRecorder(*m_sim, *m_sim, m_calls, "{}")) {
    tarnos::SetBackends(m_recorder.get(), m_recorder.get());
    g_PromptForLoopback = true;
}

SimulatedPort::~SimulatedPort() {
    tarnos::SetBackends(nullptr, nullptr);
    m_recorder.reset();
    std::fclose(m_calls);
}

kivu5::RunOutcome SimulatedPort::RunId(int testID) {
    kivu5::Framework::beginRun();
    kivu5::RunOutcome outcome;
    CSerialPortTest test(testID);
    outcome.result = test.RunTest(tarnsim::MakeDevice(m_sim->GetScenario().ports.at(0)));
    outcome.timeline = kivu5::Framework::timeline();
    return outcome;
}

size_t SimulatedPort::Calls(const std::string& call) {
    m_recorder->Finish();
    std::rewind(m_calls);
    const std::string wanted = "{\"call\":\"" + call + "\"";
    size_t count = 0;
    char line[4096];
    while (std::fgets(line, sizeof line, m_calls) != nullptr) {
        count += std::string(line).rfind(wanted, 0) == 0 ? 1 : 0;
    }
    std::fseek(m_calls, 0, SEEK_END);
    return count;
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
