// The module on the real Linux backend against pseudo-terminals (never this machine's /dev/ttyS*): COM5
// is a pty's slave, the default mapping is off. What a real line can do that the simulator does not:
// the far end hangs up in the middle of ExternalLoopbackTest (a cable pulled, a USB adapter gone), and a
// second program holds the port. These runs wait for real (the module's fixed waits, 2 to 3 s each);
// every run has a deadline, so a hang fails the test instead of blocking it.
#include "backends/PtyPair.h"
#include "kivu5/Framework.h"
#include "os/CallTrace.h"
#include "os/IoPortGuard.h"
#include "os/OsBackend.h"
#include "os/backends/posix/ComPortMap.h"
#include "os/backends/posix/DevPortPath.h"
#include "support/SimFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

namespace realport {
namespace {

using namespace std::chrono_literals;

const unsigned COM_NUMBER = 5;
const uint32_t LOOPBACK_RATE = 19200; // the one rate of the run; DetectModem uses 9600, a fresh pty 38400

struct EventSeen {
    std::string name;
    std::map<std::string, std::string> vars;
};

// SimTest for its module reset, hooks and Run, but no simulation is installed: the real backends answer.
class RealPort : public tarntest::SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        qen::LoggerPriority::LOGGER_PRIORITY = 3;
        tarnos::posix::SetDefaultComMapping(false);
        tarnos::posix::ClearComPortMap();
        // The kernel-mode driver must be there (Part 3.2, screen 1): a temporary file stands in for
        // /dev/port. COM5 has no I/O base, so no register is touched, and the guard grants nothing anyway.
        char name[] = "/tmp/tarn-realport-devport-XXXXXX";
        m_DevPortFd = mkstemp(name);
        ASSERT_GE(m_DevPortFd, 0);
        m_DevPortPath = name;
        ASSERT_EQ(ftruncate(m_DevPortFd, 0x10000), 0);
        tarnos::posix::SetDevPortPath(m_DevPortPath);
        tarnos::RealPortIoGuard().Reset();
        tarnos::SetBackends(nullptr, nullptr);
        ASSERT_TRUE(m_Pty.Ok()) << "openpty failed";
        tarnos::posix::MapComPort(COM_NUMBER, m_Pty.SlaveName());
        SetParameter("BaudRates", kivu5::Value::Uint32Array({LOOPBACK_RATE}));
        SetParameter("PromptUserForLoopBack", kivu5::Value::Bool(false));
        tarnos::CallTrace::Instance().Clear();
        tarnos::CallTrace::Instance().SetFilter({"CreateFileW", "CloseHandle", "WriteFile", "ReadFile"});
        tarnos::CallTrace::Instance().Enable(true);
    }
    void TearDown() override {
        SimTest::TearDown();
        tarnos::posix::ClearComPortMap();
        tarnos::posix::SetDevPortPath("/nonexistent/tarn-tests/no-dev-port");
        if (m_DevPortFd >= 0) {
            close(m_DevPortFd);
            unlink(m_DevPortPath.c_str());
        }
    }

    static kivu5::DiagDevice Com5() {
        kivu5::DiagDevice device("COM5"); // an adapter: ComPortNumber, no IoBaseAddresses
        device.setProperty("ComPortNumber", kivu5::Value::Uint32(COM_NUMBER));
        return device;
    }

    // Runs the test on COM5 with a deadline; a run that does not end in time fails the whole program.
    kivu5::RunOutcome RunWithDeadline(const std::string& test, std::chrono::seconds deadline = 15s) {
        auto future = std::async(std::launch::async, [this, test] { return Run(test, Com5()); });
        if (future.wait_for(deadline) != std::future_status::ready) {
            ADD_FAILURE() << test << " did not end within " << deadline.count() << " s";
            std::fflush(stdout);
            std::_Exit(1); // the run hangs on a thread that cannot be stopped
        }
        return future.get();
    }

    static std::vector<EventSeen> Events(const kivu5::RunOutcome& outcome) {
        std::vector<EventSeen> events;
        for (const kivu5::TimelineEntry& entry : outcome.timeline) {
            if (entry.kind == kivu5::TimelineEntry::EventRaised) {
                EventSeen event{entry.name, {}};
                for (const kivu5::VariableRecord& var : entry.vars) {
                    event.vars[var.name] = var.value.kind() == kivu5::DataType::Text
                                               ? var.value.text()
                                               : std::to_string(var.value.number());
                }
                events.push_back(event);
            }
        }
        return events;
    }
    static std::vector<std::string> Names(const std::vector<EventSeen>& events) {
        std::vector<std::string> names;
        for (const EventSeen& event : events) {
            names.push_back(event.name);
        }
        return names;
    }

    // Every handle CreateFileW gave was closed again, once; returns how many there were.
    static size_t OpenedHandlesAllClosed() {
        std::map<std::string, int> open;
        size_t opened = 0;
        for (const tarnos::TraceEntry& entry :
             tarnos::CallTrace::Instance().Only({"CreateFileW", "CloseHandle"})) {
            if (entry.call == "CreateFileW" && entry.result != "INVALID_HANDLE_VALUE") {
                ++open[entry.result];
                ++opened;
            } else if (entry.call == "CloseHandle") {
                --open[entry.args.at(0)];
            }
        }
        for (const auto& handle : open) {
            EXPECT_EQ(handle.second, 0) << "handle " << handle.first;
        }
        return opened;
    }

    // The line's output speed as the module last set it (the termios of the tty, read through the pty's
    // own slave descriptor).
    speed_t LineSpeed() const {
        termios tio = m_Pty.SlaveTermios();
        return cfgetospeed(&tio);
    }
    // Waits until the module has set the loop-back rate: the body's Configure, 10 ms before its writes.
    bool WaitForLoopbackRate() const {
        for (auto deadline = std::chrono::steady_clock::now() + 10s;
             std::chrono::steady_clock::now() < deadline;) {
            if (LineSpeed() == B19200) {
                return true;
            }
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

    // Fills the line's output towards the far end (which reads nothing) to the brim, through the test's own
    // descriptor of the slave: then a write of the module waits. The kernel's pty buffers take data in
    // chunks, so a write that a big chunk no longer fits may still find room for a small one: the filling
    // goes down to single bytes, each size until the line has refused it a few times in a row.
    void FillTheLine() const {
        int fd = m_Pty.Slave();
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); // only this descriptor; the module's is its own
        std::vector<char> junk(4096, 'Z');
        for (size_t size : {4096, 512, 64, 8, 1}) {
            for (int refused = 0; refused < 5;) {
                if (write(fd, junk.data(), size) > 0) {
                    refused = 0;
                } else {
                    ++refused;
                    std::this_thread::sleep_for(2ms);
                }
            }
        }
    }

    backendtests::CPtyPair m_Pty;
    int m_DevPortFd = -1;
    std::string m_DevPortPath;
};

TEST_F(RealPort, FarEndHangsUpDuringTheWaitBeforeTheReadTheRunFailsWithIncorrectCharCount) {
    // The far end reads nothing and hangs up 300 ms into the module's 1000 ms wait: all 256 bytes were
    // written (the pty takes them), nothing can be read back.
    std::atomic<bool> sawRate{false};
    std::thread farEnd([&] {
        sawRate = WaitForLoopbackRate();
        std::this_thread::sleep_for(300ms);
        m_Pty.CloseMaster();
    });
    auto start = std::chrono::steady_clock::now();
    kivu5::RunOutcome outcome = RunWithDeadline("ExternalLoopbackTest");
    farEnd.join();
    ASSERT_TRUE(sawRate);

    EXPECT_STREQ(outcome.result.name(), "FAIL");
    std::vector<EventSeen> events = Events(outcome);
    ASSERT_EQ(Names(events), std::vector<std::string>{"IncorrectCharCount"});
    EXPECT_EQ(events[0].vars["PortNumber"], "COM5");
    EXPECT_EQ(events[0].vars["DataRead"], "0");
    EXPECT_EQ(events[0].vars["DataWritten"], "256");
    EXPECT_EQ(OpenedHandlesAllClosed(), 3u) << "IsPortTestable's, DetectModem's and the dispatcher's Open";
    // The modem screen's two attempts (350 + 450 ms) and the pass's waits (10 + 1000 ms), nothing more.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(RealPort, FarEndHangsUpWhileTheWritesAreBlockedTheRunFailsWithWriteCompletedShort) {
    // The far end stops reading: once the modem screen's two "AT\r" are in, the line's output is filled up
    // to the brim, so the ramp's first write waits (up to its 1000 ms time-out); then the far end hangs up.
    std::atomic<bool> sawModemProbe{false}, sawRate{false};
    std::thread farEnd([&] {
        sawModemProbe = m_Pty.ReadMaster(6, 5000).size() == 6; // "AT\r" twice
        FillTheLine();
        sawRate = WaitForLoopbackRate();
        std::this_thread::sleep_for(300ms);
        m_Pty.CloseMaster();
    });
    auto start = std::chrono::steady_clock::now();
    kivu5::RunOutcome outcome = RunWithDeadline("ExternalLoopbackTest");
    farEnd.join();
    ASSERT_TRUE(sawModemProbe);
    ASSERT_TRUE(sawRate);

    EXPECT_STREQ(outcome.result.name(), "FAIL");
    std::vector<EventSeen> events = Events(outcome);
    ASSERT_EQ(Names(events), (std::vector<std::string>{"WriteCompletedShort", "IncorrectCharCount"}));
    EXPECT_EQ(events[0].vars["TotalSent"], "0");
    EXPECT_EQ(events[0].vars["TotalExpected"], "256");
    EXPECT_EQ(events[1].vars["DataRead"], "0");
    EXPECT_EQ(OpenedHandlesAllClosed(), 3u);
    // After the hang-up every write fails at once: 32 WriteFile calls, none of them waits again.
    EXPECT_EQ(tarnos::CallTrace::Instance().Only({"WriteFile"}).size(), 2u + 32u) << "2 x AT, then the ramp";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s); // 0.8 s screen, 0.3 s blocked, 1 s wait
}

TEST_F(RealPort, HangUpBeforeTheRunMakesEveryOpenFailSilently) {
    m_Pty.CloseMaster(); // the adapter is already gone when the run starts: the slave no longer opens
    kivu5::RunOutcome outcome = RunWithDeadline("ExternalLoopbackTest");
    // Part 3.2: error 2 or 31 (the node is gone, or the line hung up) is refused silently; Part 3.1 then
    // raises NotTestable.
    EXPECT_STREQ(outcome.result.name(), "NOTSUPPORTED");
    EXPECT_EQ(Names(Events(outcome)), std::vector<std::string>{"NotTestable"});
    EXPECT_EQ(OpenedHandlesAllClosed(), 0u);
}

// A second program holds COM5: a child process that opened it through the same posix backend and keeps
// it open until told to write through it and close it.
class RealPortHeldElsewhere : public RealPort {
protected:
    void SetUp() override {
        RealPort::SetUp();
        ASSERT_EQ(pipe(m_ToParent), 0);
        ASSERT_EQ(pipe(m_ToChild), 0);
        m_Child = fork();
        ASSERT_GE(m_Child, 0);
        if (m_Child == 0) {
            HoldThePort(); // never returns
        }
        char held = 0;
        ASSERT_EQ(read(m_ToParent[0], &held, 1), 1);
        ASSERT_EQ(held, 'H') << "the other program could not open COM5";
    }
    void TearDown() override {
        if (m_Child > 0) {
            ReleaseAndCheckTheHolder();
        }
        for (int fd : {m_ToParent[0], m_ToParent[1], m_ToChild[0], m_ToChild[1]}) {
            close(fd);
        }
        RealPort::TearDown();
    }

    // The child: open COM5 as Part 4.2 does, say so, wait, write "HELD" through the handle, close it.
    [[noreturn]] void HoldThePort() {
        tarnos::IWin32Backend& os = tarnos::RealWin32Backend();
        HANDLE handle = os.CreateFileW(L"\\\\.\\COM5", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
        char held = handle == INVALID_HANDLE_VALUE ? 'F' : 'H';
        if (write(m_ToParent[1], &held, 1) != 1 || held != 'H') {
            _exit(2);
        }
        char go = 0;
        if (read(m_ToChild[0], &go, 1) != 1) {
            _exit(3);
        }
        DWORD written = 0;
        BOOL ok = os.WriteFile(handle, "HELD", 4, &written, nullptr);
        ok = os.CloseHandle(handle) && ok;
        _exit(ok && written == 4 ? 0 : 4);
    }

    // The holder's port still works after every refused open here: never a shared port.
    void ReleaseAndCheckTheHolder() {
        char go = 'R';
        EXPECT_EQ(write(m_ToChild[1], &go, 1), 1);
        std::vector<unsigned char> bytes = m_Pty.ReadMaster(4, 5000);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "HELD");
        int status = 0;
        EXPECT_EQ(waitpid(m_Child, &status, 0), m_Child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "holder status " << status;
        m_Child = -1;
    }

    // No CreateFileW of this process gave a handle.
    static bool NeverOpened() {
        for (const tarnos::TraceEntry& entry : tarnos::CallTrace::Instance().Only({"CreateFileW"})) {
            if (entry.result != "INVALID_HANDLE_VALUE") {
                return false;
            }
        }
        return !tarnos::CallTrace::Instance().Only({"CreateFileW"}).empty();
    }

    int m_ToParent[2] = {-1, -1};
    int m_ToChild[2] = {-1, -1};
    pid_t m_Child = -1;
};

TEST_F(RealPortHeldElsewhere, AnExternalTestGetsAccessDeniedAndIsNotSupported) {
    for (const char* test : {"ExternalLoopbackTest", "ExternalRegisterTest"}) {
        tarnos::CallTrace::Instance().Clear();
        kivu5::RunOutcome outcome = RunWithDeadline(test);
        // Part 3.2: IsPortTestable's Open fails with 5, ReportOpenFailure raises both warnings; Part 3.1:
        // NotTestable, NOTSUPPORTED. The modem screen and the test body never run.
        EXPECT_STREQ(outcome.result.name(), "NOTSUPPORTED") << test;
        std::vector<EventSeen> events = Events(outcome);
        ASSERT_EQ(Names(events),
                  (std::vector<std::string>{"UnableToOpenPort", "AccessDeniedFailure", "NotTestable"}))
            << test;
        EXPECT_EQ(events[0].vars["PortNumber"], "COM5");
        EXPECT_NE(events[0].vars["ErrorDescription"], "");
        EXPECT_EQ(events[1].vars["PortNumber"], "COM5");
        EXPECT_TRUE(NeverOpened()) << test;
        EXPECT_EQ(tarnos::CallTrace::Instance().Only({"CreateFileW"}).size(), 1u) << test;
    }
}

TEST_F(RealPortHeldElsewhere, AnInternalTestGetsAccessDeniedFromTheDispatchersOwnOpenAndCannotRun) {
    kivu5::RunOutcome outcome = RunWithDeadline("InternalRegisterTest");
    // Part 3.2: the internal screens open nothing (no I/O base: testable; no modem screen). Part 3.1, step
    // 13: the dispatcher's Open fails, ReportOpenFailure, "can't open port.", CANNOTRUN.
    EXPECT_STREQ(outcome.result.name(), "CANNOTRUN");
    EXPECT_EQ(Names(Events(outcome)), (std::vector<std::string>{"UnableToOpenPort", "AccessDeniedFailure"}));
    bool logged = false;
    for (const kivu5::TimelineEntry& entry : outcome.timeline) {
        logged = logged || (entry.kind == kivu5::TimelineEntry::Log &&
                            entry.text.find("Port COM5can't open port.") != std::string::npos);
    }
    EXPECT_TRUE(logged);
    EXPECT_TRUE(NeverOpened());
    EXPECT_EQ(tarnos::CallTrace::Instance().Only({"CreateFileW"}).size(), 1u);
}

} // namespace
} // namespace realport
