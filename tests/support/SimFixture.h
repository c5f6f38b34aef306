// A test standing on the simulator: one scenario installed behind the seam, the call trace on, the
// module's cross-run state put back to process start, and a helper to run a test as the framework does.
#pragma once

#include "kivu5/Framework.h"
#include "os/CallTrace.h"
#include "sim/Devices.h"
#include "sim/Simulation.h"
#include "support/Timeline.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tarntest {

class SimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds and installs the simulation; the trace and the timeline start empty.
    tarnsim::CSimulation& Use(const tarnsim::Scenario& scenario);
    tarnsim::CSimulation& Sim() { return *m_sim; }

    // Runs the named test's entry function on the scenario's port, as the framework does.
    kivu5::RunOutcome Run(const std::string& testName, size_t portIndex = 0);
    kivu5::RunOutcome Run(const std::string& testName, const kivu5::DiagDevice& device);

    // Answers every prompt with this (and records the prompts asked); stop after N checks (or never).
    void AnswerPrompts(kivu5::MsgBoxReturn answer) { m_answer = answer; }
    void StopAfterChecks(long checks) { m_stopAfter = checks; }
    // Sets a parameter's value (parameters keep their value from run to run, as in one process).
    static void SetParameter(const std::string& name, const kivu5::Value& value);

    // Records only these calls from now on (all when empty); a full Part 5.3 run makes millions of
    // register accesses, so tests of long runs record just what they assert on.
    static void TraceOnly(std::vector<std::string> calls) {
        tarnos::CallTrace::Instance().SetFilter(std::move(calls));
    }
    // The seam's call trace, one line per call, of these calls only (all when empty).
    static std::vector<std::string> Trace(const std::vector<std::string>& calls = {});
    // Register accesses as "R 0x3FF -> 0x00" and "W 0x3FC <- 0x10", in order.
    static std::vector<std::string> RegisterTrace();
    // Virtual milliseconds since Use().
    double ElapsedMs() const;

    // The module's state that lives from run to run (Part 2.3), reset to process start.
    static void ResetModuleState();

private:
    std::unique_ptr<tarnsim::CSimulation> m_sim;
    kivu5::MsgBoxReturn m_answer = kivu5::MSGBOX_RETURN_OK;
    long m_stopAfter = -1;
    uint64_t m_startUs = 0;
};

} // namespace tarntest
