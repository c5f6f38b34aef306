// Shared helpers of the fault-injection suite (tarn_tests_faults): faults injected in the middle of a test
// on the simulator, through the call hook of the simulation (before every Win32 call on a port) or a backend
// wrapped around it (register accesses), and the readings every fault test asserts on: result, port closed,
// rate restored where the spec restores it, virtual time bounded.
#pragma once

#include "kivu5/Framework.h"
#include "os/CallTrace.h"
#include "os/OsBackend.h"
#include "qen/qen.h"
#include "sim/Scenario.h"
#include "sim/Simulation.h"
#include "support/SimFixture.h"
#include "support/Timeline.h"
#include "uart/SerialReg.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarnfaults {

// The built-in port: COM1 at 0x3F8 with a loopback plug (formats.md section 2).
const unsigned short COM1_BASE = 0x3F8;
// The rate the driver holds before each run: in no rate list of Parts 3.2, 5.3, 5.4 or 5.6, so a restore (or
// its absence) shows in CSimulation::CurrentBaud.
const uint32_t RATE_BEFORE = 600;

// The built-in scenario (all five tests pass on it) with the driver's rate at RATE_BEFORE.
inline tarnsim::Scenario BuiltInAt600() {
    tarnsim::Scenario scenario = tarnsim::Scenario::BuiltIn();
    scenario.ports[0].os.baud = RATE_BEFORE;
    return scenario;
}

// Line times (virtual milliseconds) of the simulated line, for the time bounds.
// Through the OS driver (Part 4.2's frame 8N1): 10 bits per character.
inline double CharsMs8N1(double chars, double rate) {
    return chars * 10.0 * 1000.0 / rate;
}
// Through the registers (Part 5.3's frame 8N2): 11 bits per character.
inline double CharsMs8N2(double chars, double rate) {
    return chars * 11.0 * 1000.0 / rate;
}

// Part 3.2, DetectModem on a port where nothing answers: Configure(9600), two attempts of "AT\r" with the
// waits 350 ms and 450 ms.
inline double DetectModemMs() {
    return 350.0 + 450.0 + 2 * CharsMs8N1(3, 9600);
}
// Part 5.6, one pass that is not stopped: 10 ms, 256 bytes written at the rate, 1000 ms before the read.
inline double LoopbackPassMs(double rate) {
    return 10.0 + CharsMs8N1(256, rate) + 1000.0;
}
// Part 5.3, one rate that passes: six 10 ms pauses, then 256 bytes each waiting for THRE and for its echo
// (at most one character time each).
inline double SendReceiveRateMs(double rate) {
    return 60.0 + 2 * CharsMs8N2(256, rate);
}
// Part 5.3's rate table and Part 5.5's accepted defaults on a port that can set all twelve rates.
const std::vector<uint32_t> SEND_RECEIVE_RATES = {1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200};
const std::vector<uint32_t> DEFAULT_LOOPBACK_RATES = {300,   1200,  2400,  4800,  9600,   14400,
                                                      19200, 38400, 56000, 57600, 115200, 128000};
// Register accesses and the seam's bookkeeping cost a few microseconds of virtual time on top.
const double SLACK_MS = 5.0;

// What the module said, without the trace lines of its trace scopes.
inline std::vector<std::string> Said(const kivu5::RunOutcome& outcome) {
    return tarntest::Describe(outcome.timeline, {"event", "progress", "percent", "log", "prompt"});
}

// True when the run's last progress is TestComplete on COM1 and its last percentage 100 (Part 3.1 step 14).
inline bool EndsWithTestComplete(const kivu5::RunOutcome& outcome) {
    std::vector<std::string> lines = tarntest::Describe(outcome.timeline, {"progress", "percent"});
    return lines.size() >= 2 && lines[lines.size() - 2] == "progress TestComplete {PortNumber:text=COM1}" &&
           lines.back() == "percent 100";
}

inline bool ShowsTestComplete(const kivu5::RunOutcome& outcome) {
    return tarntest::Count(outcome.timeline, "progress TestComplete {PortNumber:text=COM1}") > 0;
}

// The rates of every Configure in the trace (the texts given to BuildCommDCBW), from the entry `from` on.
inline std::vector<unsigned> ConfiguredRates(size_t from = 0) {
    std::vector<unsigned> rates;
    const std::vector<tarnos::TraceEntry>& all = tarnos::CallTrace::Instance().Entries();
    for (size_t i = from; i < all.size(); ++i) {
        if (all[i].call == "BuildCommDCBW") {
            const std::string& text = all[i].args.at(0);
            rates.push_back(static_cast<unsigned>(std::stoul(text.substr(text.find("baud=") + 5))));
        }
    }
    return rates;
}

// The index just after the Nth CreateFileW of the trace (the entries of what that open led to), or the
// trace's size when there were fewer.
inline size_t AfterOpen(unsigned nth) {
    const std::vector<tarnos::TraceEntry>& all = tarnos::CallTrace::Instance().Entries();
    unsigned seen = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].call == "CreateFileW" && ++seen == nth) {
            return i + 1;
        }
    }
    return all.size();
}

// The trace lines of these calls from the entry `from` on.
inline std::vector<std::string> TraceFrom(size_t from, const std::vector<std::string>& calls) {
    std::vector<std::string> out;
    const std::vector<tarnos::TraceEntry>& all = tarnos::CallTrace::Instance().Entries();
    for (size_t i = from; i < all.size(); ++i) {
        for (const std::string& call : calls) {
            if (all[i].call == call) {
                out.push_back(all[i].ToString());
            }
        }
    }
    return out;
}

// A register-access backend that forwards to the simulation and lets a test act on every access (a watch
// on what the module programs), and that ends a run whose virtual time stands still: a busy poll in which
// no call advances the clock would spin for ever, so after STANDSTILL_LIMIT driver checks at one moment
// it throws a qen::Exception (the run then ends EXITEDABNORMALLY with this text instead of hanging).
class CWatchedPortIo : public tarnos::IPortIoBackend {
public:
    static const unsigned long STANDSTILL_LIMIT = 2000000;
    static const char* StandstillMessage() {
        return "virtual time stood still over 2000000 kernel-mode driver checks (a busy poll that can never "
               "reach its deadline)";
    }

    explicit CWatchedPortIo(tarnsim::CSimulation& sim) : m_sim(sim) {}
    // Called after every register write the simulation accepted, with the absolute address and the value.
    void OnWrite(std::function<void(unsigned short, unsigned char)> action) { m_onWrite = std::move(action); }
    // Called before every register read and write.
    void BeforeAccess(std::function<void(bool write, unsigned short, unsigned char)> action) {
        m_before = std::move(action);
    }
    bool StoodStill() const { return m_stoodStill; }

    bool DriverOpen() override {
        const uint64_t now = m_sim.Clock().NowUs();
        if (now != m_lastUs) {
            m_lastUs = now;
            m_sameMoment = 0;
        } else if (++m_sameMoment > STANDSTILL_LIMIT) {
            m_stoodStill = true;
            m_sameMoment = 0;
            throw qen::Exception(qen::String(StandstillMessage()));
        }
        return m_sim.DriverOpen();
    }
    int ReadByte(unsigned short port, unsigned char* value) override {
        if (m_before) {
            m_before(false, port, 0);
        }
        return m_sim.ReadByte(port, value);
    }
    int WriteByte(unsigned short port, unsigned char value) override {
        if (m_before) {
            m_before(true, port, value);
        }
        int rc = m_sim.WriteByte(port, value);
        if (m_onWrite) {
            m_onWrite(port, value);
        }
        return rc;
    }

private:
    tarnsim::CSimulation& m_sim;
    std::function<void(unsigned short, unsigned char)> m_onWrite;
    std::function<void(bool, unsigned short, unsigned char)> m_before;
    uint64_t m_lastUs = ~uint64_t{0};
    unsigned long m_sameMoment = 0;
    bool m_stoodStill = false;
};

// The fixture: the simulator with a call hook that counts the Win32 calls of the run by name and runs the
// actions a test attached to the Nth call of a name.
class FaultTest : public tarntest::SimTest {
protected:
    void TearDown() override {
        if (HasSim()) {
            Sim().SetCallHook(nullptr);
        }
        tarntest::SimTest::TearDown();
        tarnos::SetBackends(nullptr, nullptr);
    }

    // Installs the scenario, the counting hook, and a fresh count.
    tarnsim::CSimulation& UseScenario(const tarnsim::Scenario& scenario) {
        m_counts.clear();
        m_actions.clear();
        m_hasSim = true;
        tarnsim::CSimulation& sim = Use(scenario);
        sim.SetCallHook([this](const std::string& call, size_t) {
            unsigned n = ++m_counts[call];
            auto it = m_actions.find(call);
            if (it != m_actions.end()) {
                it->second(n);
            }
        });
        return sim;
    }
    // action(n) runs before the nth call of this name, for every n (the action picks its moment).
    void OnCall(const std::string& call, std::function<void(unsigned n)> action) {
        m_actions[call] = std::move(action);
    }
    unsigned Calls(const std::string& call) const {
        auto it = m_counts.find(call);
        return it == m_counts.end() ? 0u : it->second;
    }
    bool HasSim() const { return m_hasSim; }

private:
    bool m_hasSim = false;
    std::map<std::string, unsigned> m_counts;
    std::map<std::string, std::function<void(unsigned)>> m_actions;
};

} // namespace tarnfaults
