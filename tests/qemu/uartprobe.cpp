// uartprobe: the QEMU harness's self-check, independent of tarnserialport (run-qemu-test.sh --probe).
// For each BASE:TTY argument it reads the UART's eight registers through /dev/port, checks the MCR
// internal loopback (Part 4.1: MSR>>4 is MCR's low nibble with bits 0 and 1 exchanged) and sends a
// 256-byte ramp through TTY with termios, expecting it back from the chardev loopback. One line per UART:
//   PROBE tty=/dev/ttyS1 base=0x2f8 regs=00,b0,60,... mcrloop=16/16 echo9600=256/256 echo115200=256/256 OK
// Guest-only: it writes UART registers, so it never runs on the host; the harness never gives it 0x3F8.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int g_port = -1;

unsigned char In(unsigned long port) {
    unsigned char value = 0;
    if (pread(g_port, &value, 1, static_cast<off_t>(port)) != 1) {
        std::perror("pread /dev/port");
    }
    return value;
}

void Out(unsigned long port, unsigned char value) {
    if (pwrite(g_port, &value, 1, static_cast<off_t>(port)) != 1) {
        std::perror("pwrite /dev/port");
    }
}

int McrLoopback(unsigned long base) {
    const unsigned MCR = 4, MSR = 6;
    unsigned char saved = In(base + MCR);
    int good = 0;
    for (unsigned n = 0; n < 16; ++n) {
        Out(base + MCR, static_cast<unsigned char>(0x10 | n));
        unsigned expected = (n & 0xC) | ((n & 1) << 1) | ((n & 2) >> 1);
        if ((In(base + MSR) >> 4) == expected) {
            ++good;
        }
    }
    Out(base + MCR, saved);
    return good;
}

int Echo(const char* tty, speed_t speed) {
    int fd = open(tty, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::perror(tty);
        return -1;
    }
    termios mode{};
    tcgetattr(fd, &mode);
    cfmakeraw(&mode);
    cfsetspeed(&mode, speed);
    mode.c_cflag |= CLOCAL | CREAD;
    tcsetattr(fd, TCSANOW, &mode);
    tcflush(fd, TCIOFLUSH);
    unsigned char out[256], in[512];
    for (int i = 0; i < 256; ++i) {
        out[i] = static_cast<unsigned char>(i);
    }
    if (write(fd, out, sizeof out) != static_cast<ssize_t>(sizeof out)) {
        std::perror("write");
    }
    int got = 0;
    while (got < 256) {
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, 2000) <= 0) {
            break;
        }
        ssize_t n = read(fd, in + got, sizeof in - static_cast<size_t>(got));
        if (n <= 0) {
            break;
        }
        got += static_cast<int>(n);
    }
    close(fd);
    int good = 0;
    for (int i = 0; i < got && i < 256; ++i) {
        good += in[i] == out[i];
    }
    return good;
}

} // namespace

int main(int argc, char** argv) {
    g_port = open("/dev/port", O_RDWR);
    if (g_port < 0) {
        std::perror("/dev/port");
        return 2;
    }
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        size_t colon = arg.find(':');
        unsigned long base = std::strtoul(arg.substr(0, colon).c_str(), nullptr, 16);
        std::string tty = colon == std::string::npos ? "" : arg.substr(colon + 1);
        if (base >= 0x3F8 && base <= 0x3FF) {
            std::printf("PROBE refused base 0x%lx: the console UART\n", base);
            ++failures;
            continue;
        }
        std::string regs;
        for (int offset = 7; offset >= 0; --offset) {
            char text[8];
            std::snprintf(text, sizeof text, "%s%02x", offset == 7 ? "" : ",",
                          In(base + static_cast<unsigned>(offset)));
            regs += text;
        }
        int loop = McrLoopback(base);
        int slow = Echo(tty.c_str(), B9600);
        int fast = Echo(tty.c_str(), B115200);
        bool ok = loop == 16 && slow == 256 && fast == 256;
        failures += !ok;
        std::printf("PROBE tty=%s base=0x%lx regs=%s mcrloop=%d/16 echo9600=%d/256 echo115200=%d/256 %s\n",
                    tty.c_str(), base, regs.c_str(), loop, slow, fast, ok ? "OK" : "FAIL");
    }
    return failures == 0 ? 0 : 1;
}
