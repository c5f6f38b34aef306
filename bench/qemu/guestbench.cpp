// guestbench: the QEMU benchmark's guest program (bench/qemu/run-qemu-bench.sh, docs/performance.md).
// It measures, inside the QEMU guest and on the real Linux backends, what the simulator cannot show:
//
//   guestbench regs N          N calls each of CSerialPort::ReadRegister (the driver check and the byte
//                              read, through the I/O-port guard and /dev/port), of PortReadByte alone and of
//                              a bare pread of /dev/port, all on the scratch register of the UART at 0x2F8
//                              (ttyS1, COM2); for comparison GetTickCount, and a bare inb after ioperm of
//                              0x2F8-0x2FF alone;
//   guestbench tests [--passes N] [NAME...]
//                              the module's tests (default: all five in registration order) in this process,
//                              N times over, through their entry functions, on COM2 at 0x2F8, as the console
//                              host runs them; each one's wall time, the Sleep calls it made (asked and
//                              taken), the time of its other operating-system calls, its register accesses
//                              and the rates it ran;
//   guestbench sleeps N        N waits of 10 ms each through the backend's Sleep and through a bare
//                              nanosleep: how late each wakes, on average and at worst;
//   guestbench time LABEL PROGRAM [ARGS...]
//                              runs PROGRAM (its output to /dev/null) and prints its wall time: the shipped
//                              program, start-up and device enumeration included.
//
// One line per figure, starting "BENCH ", read by bench-summary.py. It reads UART registers, so it never runs
// on the host: it refuses to start without the file /tarn-guest, which only the benchmark's guest plan
// writes. It knows one UART, 0x2F8-0x2FF: the real backend's I/O-port guard grants that window alone (the
// console's 0x3F8 is reported to it as the console's), and each run's refusals are counted.
#include "kivu5/Framework.h"
#include "os/IoPortGuard.h"
#include "os/OsBackend.h"
#include "os/TarnKernelModeServices.h"
#include "os/linux/LinuxBackend.h"
#include "uart/SerialReg.h"

#include "tarnserialport.h"

#include <fcntl.h>
#include <sys/io.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

// DiagModule::start() is the host's; this program runs the tests itself.
namespace kivu5 {
int HostStart() {
    return 0;
}
} // namespace kivu5

namespace {

const unsigned short BENCH_COM = 2;       // COM2: /dev/ttyS1, mapped as the console host maps it
const unsigned short BENCH_BASE = 0x2F8;  // its UART, QEMU's second -serial
const char* const DEV_PORT = "/dev/port"; // the real backend's default path (tarnos::posix::SetDevPortPath)
const char* const GUEST_MARKER = "/tarn-guest"; // written into the root of the benchmark's initramfs only

const char* const FULL_RUN[] = {"ExternalRegisterTest", "ExternalLoopbackTest", "InternalRegisterTest",
                                "InternalControlSignalsTest", "InternalSendAndReceiveTest"};

uint64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

// The process's page faults so far: in a TCG guest each costs tens of microseconds, and a test that runs
// code or touches data for the first time in the process pays them (docs/performance.md).
long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

bool InBenchUart(unsigned long port) {
    return port >= BENCH_BASE && port < BENCH_BASE + UART_REGISTER_COUNT;
}

// Where a test's time goes: the calls of the real backends, forwarded one for one, each kind's count and
// wall time added up. Sleep's requests are the tests' fixed waits; the rest is the cost of the platform.
// The wrapper adds a virtual call and two clock reads (about 0.3 us each in the guest, see `regs`) to each
// of the hundred-odd operating-system calls of a test.
enum CallKind {
    K_OPEN,
    K_CLOSE,
    K_STATE,
    K_SETUP,
    K_READ,
    K_WRITE,
    K_MODEM,
    K_PROPS,
    K_SLEEP,
    K_PORT,
    K_COUNT
};
const char* const CALL_KIND_NAMES[K_COUNT] = {"open",  "close", "state", "setup", "read",
                                              "write", "modem", "props", "sleep", "port"};

struct CallTimes {
    unsigned long count[K_COUNT] = {};
    uint64_t ns[K_COUNT] = {};
    uint64_t sleptMs = 0; // what the Sleep calls asked for
};
CallTimes g_Calls;

template <typename Call> auto Timed(CallKind kind, Call call) {
    uint64_t t0 = NowNs();
    auto result = call();
    g_Calls.ns[kind] += NowNs() - t0;
    ++g_Calls.count[kind];
    return result;
}

class CTimedWin32 final : public tarnos::IWin32Backend {
public:
    HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override {
        return Timed(K_OPEN, [&] {
            return R().CreateFileW(name, access, share, security, disposition, flags, templateFile);
        });
    }
    BOOL CloseHandle(HANDLE handle) override {
        return Timed(K_CLOSE, [&] { return R().CloseHandle(handle); });
    }
    BOOL GetCommState(HANDLE handle, DCB* dcb) override {
        return Timed(K_STATE, [&] { return R().GetCommState(handle, dcb); });
    }
    BOOL SetCommState(HANDLE handle, DCB* dcb) override {
        return Timed(K_STATE, [&] { return R().SetCommState(handle, dcb); });
    }
    BOOL BuildCommDCBW(LPCWSTR definition, DCB* dcb) override {
        return Timed(K_STATE, [&] { return R().BuildCommDCBW(definition, dcb); });
    }
    BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) override {
        return Timed(K_SETUP, [&] { return R().SetupComm(handle, inQueue, outQueue); });
    }
    BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override {
        return Timed(K_SETUP, [&] { return R().SetCommTimeouts(handle, timeouts); });
    }
    BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override {
        return Timed(K_SETUP, [&] { return R().GetCommTimeouts(handle, timeouts); });
    }
    BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                  LPOVERLAPPED overlapped) override {
        return Timed(K_READ, [&] { return R().ReadFile(handle, buffer, toRead, read, overlapped); });
    }
    BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                   LPOVERLAPPED overlapped) override {
        return Timed(K_WRITE, [&] { return R().WriteFile(handle, buffer, toWrite, written, overlapped); });
    }
    BOOL GetCommModemStatus(HANDLE handle, LPDWORD status) override {
        return Timed(K_MODEM, [&] { return R().GetCommModemStatus(handle, status); });
    }
    BOOL GetCommProperties(HANDLE handle, LPCOMMPROP properties) override {
        return Timed(K_PROPS, [&] { return R().GetCommProperties(handle, properties); });
    }
    DWORD GetLastError() override { return R().GetLastError(); }
    void Sleep(DWORD milliseconds) override {
        g_Calls.sleptMs += milliseconds;
        Timed(K_SLEEP, [&] {
            R().Sleep(milliseconds);
            return 0;
        });
    }
    DWORD GetTickCount() override { return R().GetTickCount(); } // too frequent and cheap to time
    std::string SystemErrorText(DWORD code) override { return R().SystemErrorText(code); }

private:
    static tarnos::IWin32Backend& R() { return tarnos::RealWin32Backend(); }
};

// The real port-I/O backend (the guard in front of /dev/port), each access counted. Not timed: two clock
// reads would cost a quarter of the access; the time of the accesses is what the other calls leave.
class CCountedPortIo final : public tarnos::IPortIoBackend {
public:
    bool DriverOpen() override { return R().DriverOpen(); }
    int ReadByte(unsigned short port, unsigned char* value) override {
        ++g_Calls.count[K_PORT];
        return R().ReadByte(port, value);
    }
    int WriteByte(unsigned short port, unsigned char value) override {
        ++g_Calls.count[K_PORT];
        return R().WriteByte(port, value);
    }

private:
    static tarnos::IPortIoBackend& R() { return tarnos::RealPortIoBackend(); }
};

// The host's set-up of the I/O-port guard (os/IoPortGuard.h), which stands in front of /dev/port in the
// real backend: the windows this guest's platform reports (its console UART marked as such), and the window
// of the port under test granted, as the console host does before each run. Nothing else gets through.
void GrantBenchUart() {
    tarnos::CIoPortGuard& guard = tarnos::RealPortIoGuard();
    guard.Reset();
    tarnos::UartWindow console;
    console.base = 0x3F8;
    console.device = "COM1";
    console.console = true;
    tarnos::UartWindow bench;
    bench.base = BENCH_BASE;
    bench.device = "COM2";
    guard.SetReportedWindows({console, bench});
    guard.SelectPortUnderTest(bench.device, BENCH_BASE);
}

// Defined below, after SerialPort.h (whose os/Win32.h macros would rename the overrides above).
unsigned char ReadRegisterOnce(unsigned short address);
bool MakePort();

void PrintRate(const char* call, unsigned long n, uint64_t ns) {
    std::printf("BENCH REGS call=%s n=%lu total_us=%llu ns_per_call=%.0f\n", call, n,
                static_cast<unsigned long long>(ns / 1000), static_cast<double>(ns) / static_cast<double>(n));
}

int Regs(unsigned long n) {
    const auto scratch = static_cast<unsigned short>(BENCH_BASE + UART_SCR); // a read changes nothing
    GrantBenchUart();
    if (!InBenchUart(scratch) || !MakePort()) {
        return 1;
    }
    unsigned sum = 0; // the values read, so that no loop is optimised away
    uint64_t t0 = NowNs();
    for (unsigned long i = 0; i < n; ++i) {
        sum += ReadRegisterOnce(scratch);
    }
    PrintRate("ReadRegister", n, NowNs() - t0);

    t0 = NowNs();
    for (unsigned long i = 0; i < n; ++i) {
        unsigned char value = 0;
        TarnKernelModeServices::TarnSrvcIO.PortReadByte(scratch, &value);
        sum += value;
    }
    PrintRate("PortReadByte", n, NowNs() - t0);

    int fd = open(DEV_PORT, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::perror(DEV_PORT);
        return 1;
    }
    t0 = NowNs();
    for (unsigned long i = 0; i < n; ++i) {
        unsigned char value = 0;
        if (pread(fd, &value, 1, static_cast<off_t>(scratch)) == 1) {
            sum += value;
        }
    }
    PrintRate("pread", n, NowNs() - t0);
    close(fd);

    // For comparison, what the module's register polls pay besides the access: the tick count (the
    // send-and-receive test reads it before each wait), and an access without a system call: the in
    // instruction after ioperm of the bench UART's eight ports alone (the console's 0x3F8 stays closed to
    // this process).
    t0 = NowNs();
    for (unsigned long i = 0; i < n; ++i) {
        sum += static_cast<unsigned>(tarnos::Win32Backend().GetTickCount() & 1u);
    }
    PrintRate("GetTickCount", n, NowNs() - t0);
    if (ioperm(BENCH_BASE, UART_REGISTER_COUNT, 1) == 0) {
        t0 = NowNs();
        for (unsigned long i = 0; i < n; ++i) {
            sum += inb(scratch);
        }
        PrintRate("inb", n, NowNs() - t0);
        ioperm(BENCH_BASE, UART_REGISTER_COUNT, 0);
    } else {
        std::perror("guestbench: ioperm 0x2F8-0x2FF");
    }
    // Refusals would mean the loops timed the guard's "no", not /dev/port: the script rejects the figures.
    std::printf("BENCH REGS checksum=%u refused=%lu\n", sum, tarnos::RealPortIoGuard().RefusedCount());
    return 0;
}

// The number of rates ExternalLoopbackTest ran: its LoopbackProgress texts less the closing one, which
// repeats the last rate.
int LoopbackRates(const kivu5::RunOutcome& outcome) {
    int progress = 0;
    for (const kivu5::TimelineEntry& entry : outcome.timeline) {
        if (entry.kind == kivu5::TimelineEntry::Progress && entry.name == "LoopbackProgress") {
            ++progress;
        }
    }
    return progress > 0 ? progress - 1 : 0;
}

int Tests(const std::vector<std::string>& names, int passes) {
    kivu5::DiagModule::setModuleInitCallback(AddTestParameters); // as main does
    kivu5::Framework::runModuleInit();
    qen::LogSink::setFile("/dev/null");

    CTimedWin32 win32;
    CCountedPortIo portIo;
    tarnos::SetBackends(&win32, &portIo); // the real backends behind the timers: guard and /dev/port, termios
    tarnos::MapComPort(BENCH_COM, "/dev/ttyS1");
    tarnos::CIoPortGuard& guard = tarnos::RealPortIoGuard();
    kivu5::DiagDevice device("COM2");
    device.setProperty("ComPortNumber", kivu5::Value::Uint32(BENCH_COM));
    device.setProperty("IoBaseAddresses", kivu5::Value::Uint32Array({BENCH_BASE}));

    int status = 0;
    for (int pass = 1; pass <= passes; ++pass) {
        for (const std::string& name : names) {
            const kivu5::Test* test = kivu5::Framework::findTest(name);
            if (test == nullptr) {
                std::fprintf(stderr, "guestbench: no test named '%s'\n", name.c_str());
                status = 2;
                continue;
            }
            GrantBenchUart(); // also sets the guard's refusal count back to 0
            g_Calls = CallTimes();
            const long faultsBefore = MinorFaults();
            uint64_t t0 = NowNs();
            kivu5::RunOutcome outcome = kivu5::RunTestOnDevice(*test, device);
            uint64_t wallNs = NowNs() - t0;
            const long faults = MinorFaults() - faultsBefore;
            std::string calls;
            for (int kind = 0; kind < K_COUNT; ++kind) {
                if (g_Calls.count[kind] != 0) {
                    calls += std::string(calls.empty() ? "" : ",") + CALL_KIND_NAMES[kind] + ":" +
                             std::to_string(g_Calls.count[kind]) + ":" +
                             std::to_string(g_Calls.ns[kind] / 1000);
                }
            }
            std::printf("BENCH TEST pass=%d name=%s result=%s wall_us=%llu tick_ms=%llu slept_ms=%llu "
                        "loopback_rates=%d "
                        "refused=%lu faults=%ld calls=%s\n",
                        pass, name.c_str(), outcome.result.name(),
                        static_cast<unsigned long long>(wallNs / 1000),
                        static_cast<unsigned long long>(outcome.endMs - outcome.startMs),
                        static_cast<unsigned long long>(g_Calls.sleptMs), LoopbackRates(outcome),
                        guard.RefusedCount(), faults, calls.c_str());
            std::fflush(stdout);
        }
    }
    tarnos::SetBackends(nullptr, nullptr);
    return status;
}

int Time(const char* label, char** argv) {
    std::fflush(stdout);
    uint64_t t0 = NowNs();
    pid_t child = fork();
    if (child == 0) {
        // The program's results go to its --report file; its terminal output is not wanted here.
        int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execv(argv[0], argv);
        std::perror(argv[0]);
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        std::perror("guestbench: fork/wait");
        return 1;
    }
    uint64_t wallNs = NowNs() - t0;
    std::printf("BENCH PROC label=%s status=%d wall_us=%llu\n", label,
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
                static_cast<unsigned long long>(wallNs / 1000));
    return 0;
}

// How late a wait of 10 ms (the send-and-receive test's pause) ends, n times: through the backend's Sleep and
// a bare nanosleep.
int Sleeps(unsigned long n) {
    const uint64_t asked = 10000000; // 10 ms
    auto measure = [&](const char* label, auto wait) {
        uint64_t total = 0;
        uint64_t worst = 0;
        for (unsigned long i = 0; i < n; ++i) {
            const uint64_t t0 = NowNs();
            wait();
            const uint64_t late = NowNs() - t0 - asked; // never negative: neither returns early
            total += late;
            worst = late > worst ? late : worst;
        }
        std::printf("BENCH SLEEP call=%s n=%lu asked_us=%llu mean_late_us=%llu max_late_us=%llu\n", label, n,
                    static_cast<unsigned long long>(asked / 1000),
                    static_cast<unsigned long long>(total / n / 1000),
                    static_cast<unsigned long long>(worst / 1000));
    };
    measure("Sleep", [] { tarnos::Win32Backend().Sleep(10); });
    measure("nanosleep", [&] {
        timespec rest{0, static_cast<long>(asked)};
        while (nanosleep(&rest, &rest) != 0) {
        }
    });
    return 0;
}

int Usage() {
    std::fprintf(stderr, "usage: guestbench regs N | sleeps N | tests [--passes N] [NAME...] | time LABEL "
                         "PROGRAM [ARGS...]\n");
    return 2;
}

} // namespace

#include "SerialPort.h" // last: it brings os/Win32.h, whose macros rename the Win32 calls

namespace {

CSerialPort* g_Port = nullptr;

// The port object is built once (its constructor asks DriverOpened); the loop times only the reads.
bool MakePort() {
    try {
        g_Port = new CSerialPort(BENCH_COM, BENCH_BASE);
    } catch (const qen::Exception& e) {
        std::fprintf(stderr, "guestbench: %s (is %s there, and are we root?)\n", e.getMessage().str().c_str(),
                     DEV_PORT);
        return false;
    }
    return true;
}

unsigned char ReadRegisterOnce(unsigned short address) {
    return g_Port->ReadRegister(address);
}

} // namespace

int main(int argc, char** argv) {
    if (access(GUEST_MARKER, F_OK) != 0) {
        std::fprintf(stderr,
                     "guestbench: %s is missing: this program runs only in the QEMU benchmark's guest\n",
                     GUEST_MARKER);
        return 2;
    }
    if (argc < 2) {
        return Usage();
    }
    std::string mode = argv[1];
    if (mode == "regs" && argc == 3) {
        unsigned long n = std::strtoul(argv[2], nullptr, 10);
        return n > 0 ? Regs(n) : Usage();
    }
    if (mode == "sleeps" && argc == 3) {
        unsigned long n = std::strtoul(argv[2], nullptr, 10);
        return n > 0 ? Sleeps(n) : Usage();
    }
    if (mode == "tests") {
        int passes = 1;
        int first = 2;
        if (argc >= 4 && std::string(argv[2]) == "--passes") {
            passes = std::atoi(argv[3]);
            first = 4;
        }
        std::vector<std::string> names(argv + first, argv + argc);
        if (names.empty()) {
            names.assign(std::begin(FULL_RUN), std::end(FULL_RUN));
        }
        return passes > 0 ? Tests(names, passes) : Usage();
    }
    if (mode == "time" && argc >= 4) {
        return Time(argv[2], argv + 3);
    }
    return Usage();
}
