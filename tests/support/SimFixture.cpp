#include "support/SimFixture.h"

#include "SerialPortTest.h"

namespace tarntest {

namespace {
// Enough for every exact trace a test asserts on; a long unfiltered run stops recording there.
const size_t TRACE_LIMIT = 300000;
} // namespace

void SimTest::SetUp() {
    ResetModuleState();
    qen::LoggerPriority::LOGGER_PRIORITY = 1; // every message and trace line reaches the timeline
    kivu5::HostHooks hooks;
    hooks.answerPrompt = [this](const kivu5::PromptRequest&) { return m_answer; };
    hooks.stopRequested = [this] {
        return m_stopAfter >= 0 && kivu5::Framework::stopChecks() > static_cast<unsigned long>(m_stopAfter);
    };
    kivu5::Framework::setHooks(hooks);
}

void SimTest::TearDown() {
    tarnos::CallTrace::Instance().SetFilter({});
    tarnos::CallTrace::Instance().SetLimit(TRACE_LIMIT);
    tarnos::CallTrace::Instance().Enable(false);
    tarnos::CallTrace::Instance().Clear();
    kivu5::Framework::setHooks(kivu5::HostHooks());
    if (m_sim) {
        m_sim->Uninstall();
        m_sim.reset();
    }
    qen::LoggerPriority::LOGGER_PRIORITY = 3;
}

tarnsim::CSimulation& SimTest::Use(const tarnsim::Scenario& scenario) {
    if (m_sim) {
        m_sim->Uninstall();
    }
    m_sim.reset(new tarnsim::CSimulation(scenario));
    m_sim->Install();
    m_startUs = m_sim->Clock().NowUs();
    tarnos::CallTrace::Instance().Clear();
    tarnos::CallTrace::Instance().SetLimit(TRACE_LIMIT);
    tarnos::CallTrace::Instance().Enable(true);
    kivu5::Framework::beginRun();
    return *m_sim;
}

kivu5::RunOutcome SimTest::Run(const std::string& testName, size_t portIndex) {
    return Run(testName, tarnsim::MakeDevice(m_sim->GetScenario().ports.at(portIndex)));
}

kivu5::RunOutcome SimTest::Run(const std::string& testName, const kivu5::DiagDevice& device) {
    kivu5::Framework::runModuleInit();
    kivu5::Test* test = kivu5::Framework::findTest(testName);
    if (test == nullptr) {
        ADD_FAILURE() << "no test named " << testName;
        return kivu5::RunOutcome();
    }
    return kivu5::RunTestOnDevice(*test, device);
}

void SimTest::SetParameter(const std::string& name, const kivu5::Value& value) {
    kivu5::Parameter* parameter = kivu5::Framework::findParameter(name);
    ASSERT_NE(parameter, nullptr) << name;
    parameter->setValue(value);
}

std::vector<std::string> SimTest::Trace(const std::vector<std::string>& calls) {
    return tarnos::CallTrace::Instance().Lines(calls);
}

std::vector<std::string> SimTest::RegisterTrace() {
    std::vector<std::string> out;
    for (const tarnos::TraceEntry& e :
         tarnos::CallTrace::Instance().Only({"PortReadByte", "PortWriteByte"})) {
        if (e.call == "PortReadByte") {
            size_t blank = e.result.find(' ');
            out.push_back("R " + e.args[0] + " -> " +
                          (blank == std::string::npos ? "fail" : e.result.substr(blank + 1)));
        } else {
            out.push_back("W " + e.args[0] + " <- " + e.args[1]);
        }
    }
    return out;
}

double SimTest::ElapsedMs() const {
    return static_cast<double>(m_sim->Clock().NowUs() - m_startUs) / 1000.0;
}

void SimTest::ResetModuleState() {
    CSerialPortTest::mtestID = 0;
    g_PromptForLoopback = true;
    g_DefaultBaudRates.clear();
    SetParameter("PromptUserForLoopBack", kivu5::Value::Bool(true));
    SetParameter("BaudRates", kivu5::Value::Uint32Array({}));
}

} // namespace tarntest
