// The simulated machine of a unit test: the built-in healthy port (or a changed copy) behind the seam,
// every seam call recorded, the module's run-to-run state as at process start.
#pragma once

#include "kivu5/Framework.h"
#include "os/CallRecorder.h"
#include "sim/Scenario.h"
#include "sim/Simulation.h"

#include <functional>
#include <memory>
#include <string>

namespace tarntest {

class SimulatedPort {
public:
    explicit SimulatedPort(const tarnsim::Scenario& scenario = tarnsim::Scenario::BuiltIn());
    ~SimulatedPort();
    // Runs a test object of this ID on the scenario's first port, as an entry function does.
    kivu5::RunOutcome RunId(int testID);
    // How many calls of this name crossed the seam so far.
    size_t Calls(const std::string& call);

private:
    std::unique_ptr<tarnsim::CSimulation> m_sim;
    std::FILE* m_calls;
    std::unique_ptr<tarnos::CCallRecorder> m_recorder;
};

// What the framework's start() does in this program; nothing when empty.
void SetStartBehaviour(std::function<int()> behaviour);

} // namespace tarntest
