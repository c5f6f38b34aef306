// tarn_bench: the module's tests on the simulator, for the speed goals of the project (docs/performance.md).
//
// Goals measured here:
// - the full five-test run on the built-in port (about 34 s of virtual device time) in less than 1 s of wall
//   time: BM_FullRunOnBuiltInPort, counter virtual_s_per_wall_s at least 20 (and wall time under 1 s);
// - each test on its own, with the same counters (how much faster than real time it runs);
// - the cost of one ReadRegister (the driver check and the byte read) on the simulated 16550A.
// scripts/bench-table.sh turns the JSON output (--benchmark_format=json) into the table of the doc.
#include "kivu5/Framework.h"
#include "sim/Devices.h"
#include "sim/Scenario.h"
#include "sim/Simulation.h"
#include "uart/SerialReg.h"

#include "tarnserialport.h"

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

// The five tests in the order they are registered, the order of a full run of the console host.
const char* const FULL_RUN[] = {"ExternalRegisterTest", "ExternalLoopbackTest", "InternalRegisterTest",
                                "InternalControlSignalsTest", "InternalSendAndReceiveTest"};

// The built-in scenario installed behind the seam, log lines kept off the terminal.
class CBuiltInMachine {
public:
    CBuiltInMachine() : m_sim(tarnsim::Scenario::BuiltIn()) {
        m_sim.Install();
        qen::LogSink::setFile("/dev/null");
    }
    ~CBuiltInMachine() { m_sim.Uninstall(); }
    tarnsim::CSimulation& Sim() { return m_sim; }
    const tarnsim::PortConfig& Port() const { return m_sim.GetScenario().ports.at(0); }
    kivu5::DiagDevice Device() const { return tarnsim::MakeDevice(Port()); }

private:
    tarnsim::CSimulation m_sim;
};

void SetVirtualTimeCounters(benchmark::State& state, uint64_t virtualUs) {
    double virtualS = static_cast<double>(virtualUs) / 1e6;
    // virtual_s: device time of one iteration; virtual_s_per_wall_s: device seconds per wall second.
    state.counters["virtual_s"] = benchmark::Counter(virtualS, benchmark::Counter::kAvgIterations);
    state.counters["virtual_s_per_wall_s"] = benchmark::Counter(virtualS, benchmark::Counter::kIsRate);
}

// Runs the named tests as the framework does, in one process state; counts virtual against wall seconds.
// A run that does not pass on the healthy built-in port is an error of the benchmark, not a figure.
template <size_t N> void RunTestsOnBuiltInPort(benchmark::State& state, const char* const (&testNames)[N]) {
    CBuiltInMachine machine;
    const kivu5::Test* tests[N] = {};
    for (size_t i = 0; i < N; ++i) {
        tests[i] = kivu5::Framework::findTest(testNames[i]);
        if (tests[i] == nullptr) {
            state.SkipWithError("test not registered");
            return;
        }
    }
    kivu5::DiagDevice device = machine.Device();
    uint64_t virtualUs = 0;
    for (auto _ : state) {
        uint64_t start = machine.Sim().Clock().NowUs();
        for (const kivu5::Test* test : tests) {
            kivu5::RunOutcome outcome = kivu5::RunTestOnDevice(*test, device);
            if (outcome.result != kivu5::TestResult::PASS()) {
                state.SkipWithError((test->name() + ": " + outcome.result.name()).c_str());
                return;
            }
        }
        virtualUs += machine.Sim().Clock().NowUs() - start;
    }
    SetVirtualTimeCounters(state, virtualUs);
}

void RunTestOnBuiltInPort(benchmark::State& state, const char* testName) {
    const char* const one[1] = {testName};
    RunTestsOnBuiltInPort(state, one);
}

// The whole default run of `tarnserialport --sim`: the five tests on the built-in port, in registration
// order.
void BM_FullRunOnBuiltInPort(benchmark::State& state) {
    RunTestsOnBuiltInPort(state, FULL_RUN);
}
BENCHMARK(BM_FullRunOnBuiltInPort)->Unit(benchmark::kMillisecond)->UseRealTime();

// Each of the five tests on the built-in port.
BENCHMARK_CAPTURE(RunTestOnBuiltInPort, ExternalRegisterTest, "ExternalRegisterTest")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(RunTestOnBuiltInPort, ExternalLoopbackTest, "ExternalLoopbackTest")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(RunTestOnBuiltInPort, InternalRegisterTest, "InternalRegisterTest")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(RunTestOnBuiltInPort, InternalControlSignalsTest, "InternalControlSignalsTest")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(RunTestOnBuiltInPort, InternalSendAndReceiveTest, "InternalSendAndReceiveTest")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One ReadRegister (the driver check and the transfer, two library calls) on the simulated
// 16550A: the scratch register of the built-in port, which a read leaves as it is.
void BM_ReadRegister(benchmark::State& state) {
    CBuiltInMachine machine;
    const tarnsim::PortConfig& config = machine.Port();
    const auto base = static_cast<unsigned short>(config.io->at(0));
    CSerialPort port(static_cast<unsigned short>(*config.com), base);
    const auto scratch = static_cast<unsigned short>(base + UART_SCR);
    for (auto _ : state) {
        benchmark::DoNotOptimize(port.ReadRegister(scratch));
    }
}
BENCHMARK(BM_ReadRegister);

} // namespace

// As BENCHMARK_MAIN, after the module-initialisation callback (the parameters attached to the
// tests), as the console host runs it before the first test.
int main(int argc, char** argv) {
    kivu5::DiagModule::setModuleInitCallback(AddTestParameters);
    kivu5::Framework::runModuleInit();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
