// jail: runs a program in the QEMU guest under a seccomp filter that kills it (SIGSYS, exit status 159)
// before any step towards an I/O port outside the UART windows given: iopl above 0, an ioperm grant that is
// not exactly one of those windows, a pread or pwrite (how the Linux backend reaches /dev/port) at an offset
// outside them, and the vectored reads and writes, whose offsets a filter cannot see. The guest's console
// UART (0x3F8) is never given, so a program that reached for it would be stopped before the access. For
// static programs only: a dynamic loader reads the libraries with pread.
//
//   jail [BASE...] -- PROGRAM [ARG...]          each BASE in hex: the first port of an 8-port window
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Code = std::vector<sock_filter>;
const unsigned WINDOW_PORTS = 8;
const unsigned KILL = SECCOMP_RET_KILL_PROCESS;

Code operator+(Code a, const Code& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Code Ret(unsigned action) {
    return {BPF_STMT(BPF_RET | BPF_K, action)};
}
Code Load(unsigned offset) {
    return {BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset)};
}
Code Arg(int index, bool highWord = false) { // x86-64 is little-endian: the low word comes first
    return Load(static_cast<unsigned>(offsetof(seccomp_data, args) + 8 * index + (highWord ? 4 : 0)));
}
// Runs `then` (which ends in a return) when the accumulator equals value, else skips it.
Code IfEqual(unsigned value, const Code& then) {
    return Code{BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, 0, static_cast<unsigned char>(then.size()))} +
           then;
}
Code IfCall(long nr, const Code& then) {
    return Load(offsetof(seccomp_data, nr)) + IfEqual(static_cast<unsigned>(nr), then);
}

// When the accumulator differs from value: kill.
Code KillUnless(unsigned value) {
    return Code{BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, 1, 0)} + Ret(KILL);
}

Code Filter(const std::vector<unsigned>& bases) {
    Code grant = Arg(2) + IfEqual(0, Ret(SECCOMP_RET_ALLOW)) + Arg(1) + KillUnless(WINDOW_PORTS) + Arg(0);
    Code offset = Arg(3, true) + KillUnless(0) + Arg(3);
    for (unsigned base : bases) {
        grant = grant + IfEqual(base, Ret(SECCOMP_RET_ALLOW));
        // base <= offset < base + 8: allowed; otherwise on to the next window.
        offset.push_back(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, base, 0, 2));
        offset.push_back(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, base + WINDOW_PORTS, 1, 0));
        offset.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    }
    // Another ABI (i386, x32) has other call numbers: killed rather than judged.
    Code code = Load(offsetof(seccomp_data, arch)) + KillUnless(AUDIT_ARCH_X86_64) +
                Load(offsetof(seccomp_data, nr)) +
                Code{BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, __X32_SYSCALL_BIT, 0, 1)} + Ret(KILL) +
                IfCall(SYS_iopl, Arg(0) + IfEqual(0, Ret(SECCOMP_RET_ALLOW)) + Ret(KILL)) +
                IfCall(SYS_ioperm, grant + Ret(KILL)) + IfCall(SYS_pread64, offset + Ret(KILL)) +
                IfCall(SYS_pwrite64, offset + Ret(KILL));
    for (long nr : {SYS_preadv, SYS_pwritev, SYS_preadv2, SYS_pwritev2}) {
        code = code + IfCall(nr, Ret(KILL));
    }
    return code + Ret(SECCOMP_RET_ALLOW);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<unsigned> bases;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        bases.push_back(static_cast<unsigned>(std::strtoul(argv[i], nullptr, 16)));
    }
    if (i + 1 >= argc) {
        std::fprintf(stderr, "usage: jail [BASE...] -- PROGRAM [ARG...]\n");
        return 2;
    }
    Code code = Filter(bases);
    sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        std::perror("jail: seccomp filter");
        return 2;
    }
    execv(argv[i + 1], argv + i + 1);
    std::perror(argv[i + 1]);
    return 127;
}
