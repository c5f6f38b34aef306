// tarn_bench: the module's tests on the simulator, for the speed goals of the project.
// Goal: the internal send-and-receive test (about 5.4 s of virtual time on the built-in 16550A) in less
// than 0.2 s of wall time. The counter virtual_s_per_wall_s says how much faster than real time it runs.
#include "kivu5/Framework.h"
#include "os/CallTrace.h"
#include "sim/Devices.h"
#include "sim/Scenario.h"
#include "sim/Simulation.h"

#include "SerialPort.h" // last: it brings os/Win32.h, whose macros rename the Win32 calls

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

// DiagModule::start() is the host's; the benchmark program never calls it.
namespace kivu5 {
int HostStart() {
    return 0;
}
} // namespace kivu5

namespace {

// The built-in scenario installed behind the seam, the trace off, log lines kept off the terminal.
class CBuiltInMachine {
public:
    CBuiltInMachine() : m_sim(tarnsim::Scenario::BuiltIn()) {
        m_sim.Install();
        tarnos::CallTrace::Instance().Enable(false);
        qen::LogSink::setFile("/dev/null");
    }
    ~CBuiltInMachine() { m_sim.Uninstall(); }
    tarnsim::CSimulation& Sim() { return m_sim; }
    kivu5::DiagDevice Device() const { return tarnsim::MakeDevice(m_sim.GetScenario().ports.at(0)); }

private:
    tarnsim::CSimulation m_sim;
};

// Runs the named test as the framework does; counts virtual seconds against wall seconds.
void RunTestOnBuiltInPort(benchmark::State& state, const char* testName) {
    CBuiltInMachine machine;
    const kivu5::Test* test = kivu5::Framework::findTest(testName);
    if (test == nullptr) {
        state.SkipWithError("test not registered");
        return;
    }
    kivu5::DiagDevice device = machine.Device();
    uint64_t virtualUs = 0;
    for (auto _ : state) {
        uint64_t start = machine.Sim().Clock().NowUs();
        kivu5::RunOutcome outcome = kivu5::RunTestOnDevice(*test, device);
        virtualUs += machine.Sim().Clock().NowUs() - start;
        if (outcome.result != kivu5::TestResult::PASS()) {
            state.SkipWithError(outcome.result.name());
            return;
        }
    }
    double virtualS = static_cast<double>(virtualUs) / 1e6;
    state.counters["virtual_s"] = benchmark::Counter(virtualS, benchmark::Counter::kAvgIterations);
    state.counters["virtual_s_per_wall_s"] = benchmark::Counter(virtualS, benchmark::Counter::kIsRate);
}

// The whole internal send-and-receive test (Part 5.3): nine rates, 256 bytes each, every byte polled.
void BM_InternalSendAndReceiveTest(benchmark::State& state) {
    RunTestOnBuiltInPort(state, "InternalSendAndReceiveTest");
}
BENCHMARK(BM_InternalSendAndReceiveTest)->Unit(benchmark::kMillisecond)->UseRealTime();

// One ReadRegister (Part 4.1: the driver check and the transfer) on the simulated 16550A.
void BM_ReadRegister(benchmark::State& state) {
    CBuiltInMachine machine;
    CSerialPort port(1, 0x3F8);
    const unsigned short scratch = 0x3FF;
    for (auto _ : state) {
        benchmark::DoNotOptimize(port.ReadRegister(scratch));
    }
}
BENCHMARK(BM_ReadRegister);

// Each of the five tests on the built-in port (Parts 5.1 to 5.6).
BENCHMARK_CAPTURE(RunTestOnBuiltInPort, InternalRegisterTest, "InternalRegisterTest")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(RunTestOnBuiltInPort, InternalControlSignalsTest, "InternalControlSignalsTest")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(RunTestOnBuiltInPort, InternalSendAndReceiveTest, "InternalSendAndReceiveTest")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(RunTestOnBuiltInPort, ExternalLoopbackTest, "ExternalLoopbackTest")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(RunTestOnBuiltInPort, ExternalRegisterTest, "ExternalRegisterTest")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
