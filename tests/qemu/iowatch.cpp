// iowatch: runs a program under ptrace inside the QEMU guest and records, independently of the program,
// every I/O-port access it makes and every file it opens, so the QEMU test can prove that the guest's
// console UART (ttyS0, I/O ports 0x3F8-0x3FF) was never touched (tests/qemu/README.md).
//
//   iowatch SUMMARY_FILE PROGRAM [ARGS...]
//   iowatch --self-test        (the violation rules on made-up calls; touches nothing)
//
// Watched: reads and writes of /dev/port (read, write, pread64, pwrite64, readv, writev, preadv, pwritev,
// preadv2, pwritev2: the byte range of each, from the call's offset or the file position), ioperm ranges,
// iopl, and every open (the path asked for and the file it resolved to). Anything on /dev/port whose
// addresses cannot be known (sendfile, splice, copy_file_range, mmap, io_uring) is a violation, and so is any
// access to 0x3F8-0x3FF, any iopl above 0, any ioperm grant that is not exactly one UART window other than
// 0x3F8-0x3FF (RecordIoperm), and any open of /dev/ttyS0 or /dev/console. The summary is plain lines (see
// WriteSummary); the exit status is the program's (128 + signal when it was killed).
//
// Guest-only test tool: built static by tests/qemu/CMakeLists.txt, never run on the host.
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const unsigned long CONSOLE_FIRST = 0x3F8; // the guest console UART, ttyS0
const unsigned long CONSOLE_LAST = 0x3FF;

struct Counts {
    unsigned long reads = 0;
    unsigned long writes = 0;
};

struct PerProcess {
    uint64_t nr = ~0ULL;  // syscall of the pending entry stop
    std::string openPath; // path of a pending open
};

std::map<unsigned long, Counts> g_ports;      // I/O port -> bytes read and written
std::map<std::string, unsigned long> g_opens; // "asked -> resolved" -> count
std::vector<std::string> g_ioperm;
std::vector<std::string> g_violations;
std::map<pid_t, PerProcess> g_processes;
unsigned long g_syscalls = 0;

std::string Hex(unsigned long value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", value);
    return text;
}

std::string FdPath(pid_t pid, long fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%d/fd/%ld", static_cast<int>(pid), fd);
    char target[4096];
    ssize_t length = readlink(link, target, sizeof target - 1);
    if (length < 0) {
        return "";
    }
    target[length] = '\0';
    return target;
}

long FilePosition(pid_t pid, long fd) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/fdinfo/%ld", static_cast<int>(pid), fd);
    std::ifstream info(path);
    std::string key;
    long position = -1;
    while (info >> key) {
        if (key == "pos:") {
            info >> position;
            break;
        }
    }
    return position;
}

// A NUL-terminated string of the tracee.
std::string TraceeString(pid_t pid, uint64_t address) {
    std::string text;
    char chunk[256];
    while (text.size() < 4096) {
        iovec local{chunk, sizeof chunk};
        iovec remote{reinterpret_cast<void*>(address + text.size()), sizeof chunk};
        ssize_t got = process_vm_readv(pid, &local, 1, &remote, 1, 0);
        if (got <= 0) {
            // The chunk may cross into an unmapped page: fall back to one word at a time.
            errno = 0;
            long word = ptrace(PTRACE_PEEKDATA, pid, reinterpret_cast<void*>(address + text.size()), nullptr);
            if (errno != 0) {
                break;
            }
            std::memcpy(chunk, &word, sizeof word);
            got = sizeof word;
        }
        const void* end = std::memchr(chunk, '\0', static_cast<size_t>(got));
        if (end != nullptr) {
            text.append(chunk, static_cast<const char*>(end) - chunk);
            return text;
        }
        text.append(chunk, static_cast<size_t>(got));
    }
    return text;
}

// The total length of a tracee's iovec array.
unsigned long TraceeIovecLength(pid_t pid, uint64_t address, uint64_t count) {
    if (count > 1024) {
        return ~0UL;
    }
    std::vector<iovec> vectors(count);
    iovec local{vectors.data(), count * sizeof(iovec)};
    iovec remote{reinterpret_cast<void*>(address), count * sizeof(iovec)};
    if (process_vm_readv(pid, &local, 1, &remote, 1, 0) != static_cast<ssize_t>(count * sizeof(iovec))) {
        return ~0UL;
    }
    unsigned long total = 0;
    for (const iovec& vector : vectors) {
        total += vector.iov_len;
    }
    return total;
}

void Violation(const std::string& text) {
    if (g_violations.size() < 100) {
        g_violations.push_back(text);
    }
}

void RecordPortAccess(const char* call, bool write, long offset, unsigned long length) {
    if (offset < 0 || length == ~0UL) {
        Violation(std::string(call) + " on /dev/port at an unknown address");
        return;
    }
    unsigned long first = static_cast<unsigned long>(offset);
    if (length > 0x10000) {
        Violation(std::string(call) + " of " + std::to_string(length) + " bytes on /dev/port at " +
                  Hex(first));
        length = 0x10000;
    }
    for (unsigned long port = first; port < first + length; ++port) {
        Counts& counts = g_ports[port];
        (write ? counts.writes : counts.reads) += 1;
        if (port >= CONSOLE_FIRST && port <= CONSOLE_LAST) {
            Violation(std::string(call) + (write ? " wrote" : " read") + " console UART port " + Hex(port));
        }
    }
}

bool IsConsole(const std::string& path) {
    return path == "/dev/ttyS0" || path == "/dev/console";
}

void RecordOpen(const std::string& asked, const std::string& resolved) {
    ++g_opens[asked + " -> " + resolved];
    if (IsConsole(asked) || IsConsole(resolved)) {
        Violation("open of the console: " + asked + " -> " + resolved);
    }
}

// The real backend asks ioperm for exactly the eight registers of the UART under test (os/backends/posix/
// DevPortIo.h); after it, in/out instructions reach those ports without a system call, so iowatch cannot
// see them, and the grant itself is what it judges: a grant is allowed only of one UART window, eight ports
// from a base that is a multiple of 8, in 0x100-0xFFF8, neither the console's nor the PCI configuration
// ports 0xCF8-0xCFF. check-reports.py then asks that the base is a selected UART's. Giving back (on=0) is
// always allowed.
void RecordIoperm(unsigned long from, unsigned long num, unsigned long on) {
    g_ioperm.push_back("from=" + Hex(from) + " num=" + std::to_string(num) + " on=" + std::to_string(on));
    if (on == 0) {
        return;
    }
    std::string range = "from " + Hex(from) + " num " + std::to_string(num);
    if (from <= CONSOLE_LAST && from + num > CONSOLE_FIRST) {
        Violation("ioperm grants console UART ports: " + range);
    } else if (num != 8 || from % 8 != 0 || from < 0x100 || from > 0xFFF8 || from == 0xCF8) {
        Violation("ioperm grants ports that are not one UART window: " + range);
    }
}

void RecordIopl(unsigned long level) {
    if (level != 0) {
        Violation("iopl(" + std::to_string(level) + ") grants every I/O port");
    }
}

// --self-test: the violation rules on made-up calls, so the rules are proven without any hardware (the
// host runs it as a CTest test; nothing is traced or opened).
int SelfTest() {
    struct Case {
        const char* what;
        void (*call)();
        size_t violations;
    };
    const Case cases[] = {
        {"pread64 of 0x2F8", [] { RecordPortAccess("pread64", false, 0x2F8, 1); }, 0},
        {"pwrite64 of 0x2FF", [] { RecordPortAccess("pwrite64", true, 0x2FF, 1); }, 0},
        {"pread64 of 0x3F8", [] { RecordPortAccess("pread64", false, 0x3F8, 1); }, 1},
        {"pwrite64 of 0x3FF", [] { RecordPortAccess("pwrite64", true, 0x3FF, 1); }, 1},
        {"read of 0x3F0-0x3F8 (9 bytes)", [] { RecordPortAccess("read", false, 0x3F0, 9); }, 1},
        {"write of 0x3E8-0x3F7 (16 bytes)", [] { RecordPortAccess("write", true, 0x3E8, 16); }, 0},
        {"read at an unknown position", [] { RecordPortAccess("read", false, -1, 1); }, 1},
        {"ioperm 0x2F8+8", [] { RecordIoperm(0x2F8, 8, 1); }, 0},
        {"ioperm 0x3E8+8", [] { RecordIoperm(0x3E8, 8, 1); }, 0},
        {"ioperm 0x2F8+8 off", [] { RecordIoperm(0x2F8, 8, 0); }, 0},
        {"ioperm 0x3F8+8", [] { RecordIoperm(0x3F8, 8, 1); }, 1},
        {"ioperm 0x3F0+9", [] { RecordIoperm(0x3F0, 9, 1); }, 1},
        {"ioperm 0x3FF+1 off", [] { RecordIoperm(0x3FF, 1, 0); }, 0},
        {"ioperm 0x0+0x10000", [] { RecordIoperm(0, 0x10000, 1); }, 1},
        {"ioperm 0x2F8+9", [] { RecordIoperm(0x2F8, 9, 1); }, 1},
        {"ioperm 0x2F9+8", [] { RecordIoperm(0x2F9, 8, 1); }, 1},
        {"ioperm 0x70+8", [] { RecordIoperm(0x70, 8, 1); }, 1},
        {"ioperm 0xCF8+8", [] { RecordIoperm(0xCF8, 8, 1); }, 1},
        {"iopl(0)", [] { RecordIopl(0); }, 0},
        {"iopl(3)", [] { RecordIopl(3); }, 1},
        {"open /dev/ttyS1", [] { RecordOpen("/dev/ttyS1", "/dev/ttyS1"); }, 0},
        {"open /dev/ttyS0", [] { RecordOpen("/dev/ttyS0", "error 2"); }, 1},
        {"open of a link to ttyS0", [] { RecordOpen("/tmp/link", "/dev/ttyS0"); }, 1},
        {"open /dev/console", [] { RecordOpen("/dev/console", "/dev/console"); }, 1},
    };
    int failed = 0;
    for (const Case& test : cases) {
        size_t before = g_violations.size();
        test.call();
        size_t got = g_violations.size() - before;
        bool ok = got == test.violations;
        failed += ok ? 0 : 1;
        std::printf("%s %s: %zu violation(s)%s\n", ok ? "ok  " : "FAIL", test.what, got,
                    ok ? "" : (" expected " + std::to_string(test.violations)).c_str());
    }
    std::printf("iowatch self-test: %s\n", failed == 0 ? "PASS" : "FAIL");
    return failed == 0 ? 0 : 1;
}

bool IsOpen(uint64_t nr) {
    return nr == SYS_open || nr == SYS_creat || nr == SYS_openat || nr == SYS_openat2;
}

void OnEntry(pid_t pid, uint64_t nr, const uint64_t* args) {
    PerProcess& process = g_processes[pid];
    process.nr = nr;
    ++g_syscalls;
    long fd = static_cast<long>(args[0]);
    switch (nr) {
    case SYS_open:
    case SYS_creat:
        process.openPath = TraceeString(pid, args[0]);
        break;
    case SYS_openat:
    case SYS_openat2:
        process.openPath = TraceeString(pid, args[1]);
        break;
    case SYS_read:
    case SYS_write:
        if (FdPath(pid, fd) == "/dev/port") {
            RecordPortAccess(nr == SYS_read ? "read" : "write", nr == SYS_write, FilePosition(pid, fd),
                             args[2]);
        }
        break;
    case SYS_pread64:
    case SYS_pwrite64:
        if (FdPath(pid, fd) == "/dev/port") {
            RecordPortAccess(nr == SYS_pread64 ? "pread64" : "pwrite64", nr == SYS_pwrite64,
                             static_cast<long>(args[3]), args[2]);
        }
        break;
    case SYS_readv:
    case SYS_writev:
        if (FdPath(pid, fd) == "/dev/port") {
            RecordPortAccess(nr == SYS_readv ? "readv" : "writev", nr == SYS_writev, FilePosition(pid, fd),
                             TraceeIovecLength(pid, args[1], args[2]));
        }
        break;
    case SYS_preadv:
    case SYS_pwritev:
    case SYS_preadv2:
    case SYS_pwritev2:
        if (FdPath(pid, fd) == "/dev/port") {
            bool write = nr == SYS_pwritev || nr == SYS_pwritev2;
            long offset = static_cast<long>(args[3]); // x86-64: pos_l holds the whole offset
            if (offset == -1 && (nr == SYS_preadv2 || nr == SYS_pwritev2)) {
                offset = FilePosition(pid, fd);
            }
            RecordPortAccess(write ? "pwritev" : "preadv", write, offset,
                             TraceeIovecLength(pid, args[1], args[2]));
        }
        break;
    case SYS_sendfile:
    case SYS_splice:
    case SYS_copy_file_range:
    case SYS_tee:
        if (FdPath(pid, fd) == "/dev/port" ||
            FdPath(pid, static_cast<long>(args[nr == SYS_sendfile ? 1 : 2])) == "/dev/port") {
            Violation("syscall " + std::to_string(nr) + " moves /dev/port data at addresses not checked");
        }
        break;
    case SYS_mmap:
        if (static_cast<long>(args[4]) >= 0 && FdPath(pid, static_cast<long>(args[4])) == "/dev/port") {
            Violation("mmap of /dev/port");
        }
        break;
    case SYS_io_uring_setup:
        Violation("io_uring: its reads and writes are not visible as system calls");
        break;
    case SYS_ioperm:
        RecordIoperm(args[0], args[1], args[2]);
        break;
    case SYS_iopl:
        RecordIopl(args[0]);
        break;
    default:
        break;
    }
}

void OnExit(pid_t pid, int64_t value, bool error) {
    PerProcess& process = g_processes[pid];
    uint64_t nr = process.nr;
    process.nr = ~0ULL;
    if (!IsOpen(nr)) {
        return;
    }
    RecordOpen(process.openPath,
               error ? "error " + std::to_string(-value) : FdPath(pid, static_cast<long>(value)));
    process.openPath.clear();
}

// The calls watched: only these stop the program (a seccomp filter returning SECCOMP_RET_TRACE), so the
// register loops of the internal tests pay for one stop per access and nothing else is slowed down.
const unsigned WATCHED[] = {SYS_open,   SYS_creat,           SYS_openat,   SYS_openat2,  SYS_read,
                            SYS_write,  SYS_pread64,         SYS_pwrite64, SYS_readv,    SYS_writev,
                            SYS_preadv, SYS_pwritev,         SYS_preadv2,  SYS_pwritev2, SYS_sendfile,
                            SYS_splice, SYS_copy_file_range, SYS_tee,      SYS_mmap,     SYS_ioperm,
                            SYS_iopl,   SYS_io_uring_setup};

bool InstallFilter() {
    const unsigned count = sizeof WATCHED / sizeof WATCHED[0];
    std::vector<sock_filter> code;
    code.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    // Another ABI (i386, x32) is traced too, so the tracer can refuse it.
    code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0));
    code.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRACE));
    code.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    code.push_back(
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, __X32_SYSCALL_BIT, static_cast<unsigned char>(count + 1), 0));
    for (unsigned i = 0; i < count; ++i) {
        // On a match jump to the TRACE return after the list; otherwise test the next number.
        code.push_back(
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, WATCHED[i], static_cast<unsigned char>(count - i), 0));
    }
    code.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    code.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRACE));
    sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        std::perror("iowatch: seccomp filter");
        return false;
    }
    return true;
}

void WriteSummary(const char* file, const std::string& program, int status) {
    std::FILE* out = std::fopen(file, "w");
    if (out == nullptr) {
        std::perror(file);
        return;
    }
    std::fprintf(out, "IOWATCH program=%s status=%d watched-calls=%lu\n", program.c_str(), status,
                 g_syscalls);
    for (const auto& open : g_opens) {
        std::fprintf(out, "OPEN %s count=%lu\n", open.first.c_str(), open.second);
    }
    for (const auto& port : g_ports) {
        std::fprintf(out, "PORT 0x%lx reads=%lu writes=%lu\n", port.first, port.second.reads,
                     port.second.writes);
    }
    for (const std::string& range : g_ioperm) {
        std::fprintf(out, "IOPERM %s\n", range.c_str());
    }
    for (const std::string& violation : g_violations) {
        std::fprintf(out, "VIOLATION %s\n", violation.c_str());
    }
    std::fprintf(out, "IOWATCH END violations=%zu\n", g_violations.size());
    std::fclose(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--self-test") == 0) {
        return SelfTest();
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: iowatch SUMMARY_FILE PROGRAM [ARGS...]\n");
        return 2;
    }
    pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 2;
    }
    if (child == 0) {
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        raise(SIGSTOP); // the tracer sets its options, then lets the filter go in
        if (!InstallFilter()) {
            _exit(126);
        }
        execv(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) {
        std::fprintf(stderr, "iowatch: the child did not stop\n");
        return 2;
    }
    long options = PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL | PTRACE_O_TRACECLONE | PTRACE_O_TRACEFORK |
                   PTRACE_O_TRACEVFORK | PTRACE_O_TRACEEXEC | PTRACE_O_TRACESECCOMP;
    if (ptrace(PTRACE_SETOPTIONS, child, nullptr, reinterpret_cast<void*>(options)) != 0) {
        std::perror("PTRACE_SETOPTIONS");
        return 2;
    }
    g_processes[child];
    ptrace(PTRACE_CONT, child, nullptr, nullptr);
    int exitCode = 2;
    for (;;) {
        pid_t pid = waitpid(-1, &status, __WALL);
        if (pid < 0) {
            if (errno == EINTR) {
                continue;
            }
            break; // no tracee left
        }
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            if (pid == child) {
                exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            g_processes.erase(pid);
            continue;
        }
        if (!WIFSTOPPED(status)) {
            continue;
        }
        int signal = WSTOPSIG(status);
        int event = status >> 16;
        int deliver = 0;
        int resume = PTRACE_CONT;
        if (signal == SIGTRAP && event == PTRACE_EVENT_SECCOMP) {
            // A watched call, stopped before it runs. Opens are followed to their exit for the file they got.
            __ptrace_syscall_info info{};
            if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, reinterpret_cast<void*>(sizeof info), &info) > 0 &&
                info.op == PTRACE_SYSCALL_INFO_SECCOMP) {
                if (info.arch != AUDIT_ARCH_X86_64 || (info.seccomp.nr & __X32_SYSCALL_BIT) != 0) {
                    Violation("a system call of another ABI (not checked): nr " +
                              std::to_string(info.seccomp.nr));
                } else {
                    OnEntry(pid, info.seccomp.nr, info.seccomp.args);
                    if (IsOpen(info.seccomp.nr)) {
                        resume = PTRACE_SYSCALL;
                    }
                }
            }
        } else if (signal == (SIGTRAP | 0x80)) {
            __ptrace_syscall_info info{};
            if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, reinterpret_cast<void*>(sizeof info), &info) > 0) {
                if (info.op == PTRACE_SYSCALL_INFO_EXIT) {
                    OnExit(pid, info.exit.rval, info.exit.is_error != 0);
                } else {
                    resume = PTRACE_SYSCALL; // an entry stop (older kernels): its exit comes next
                }
            }
        } else if (signal == SIGTRAP && event != 0) {
            // fork, clone or exec event: nothing to deliver.
        } else if (signal == SIGSTOP && g_processes.find(pid) == g_processes.end()) {
            g_processes[pid]; // a new child's first stop
        } else {
            deliver = signal;
        }
        ptrace(static_cast<__ptrace_request>(resume), pid, nullptr,
               reinterpret_cast<void*>(static_cast<long>(deliver)));
    }
    WriteSummary(argv[1], argv[2], exitCode);
    return exitCode;
}
