#include "host/Stop.h"

#include "host/HostError.h"

#include <csignal>
#include <poll.h>
#include <unistd.h>

namespace tarnhost {
namespace {

volatile std::sig_atomic_t g_StopRequested = 0;
volatile std::sig_atomic_t g_AfterCurrentTest = 0;

void WriteMessage(const char* text, size_t length) {
    // write(2) is async-signal-safe; stdio is not.
    ssize_t written = write(STDERR_FILENO, text, length);
    (void)written;
}

extern "C" void OnInterrupt(int) {
    if (g_StopRequested) {
        static const char QUIT[] = "\ntarnserialport: second Ctrl-C, quitting at once\n";
        WriteMessage(QUIT, sizeof QUIT - 1);
        _exit(EXIT_INTERRUPTED);
    }
    g_StopRequested = 1;
    static const char STOPPING[] =
        "\ntarnserialport: stopping at the test's next stop check (Ctrl-C again to quit at once)\n";
    static const char ENDING[] =
        "\ntarnserialport: ending the soak after this test (Ctrl-C again to quit at once)\n";
    if (g_AfterCurrentTest) {
        WriteMessage(ENDING, sizeof ENDING - 1);
    } else {
        WriteMessage(STOPPING, sizeof STOPPING - 1);
    }
}

} // namespace

void InstallStopHandler(bool afterCurrentTest) {
    g_AfterCurrentTest = afterCurrentTest ? 1 : 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a prompt waiting on the terminal returns, and counts as Cancel
    sigaction(SIGINT, &action, nullptr);
}

bool StopRequested() {
    return g_StopRequested != 0;
}

bool ReadAnswerLine(std::FILE* in, char* buffer, int size) {
    // A Ctrl-C that lands between the check and a blocking read would be lost, and the prompt would wait
    // for ever. So SIGINT stays blocked until ppoll waits with it unblocked, in one step. Only on a
    // terminal: its reads return one line at a time, so stdio holds nothing unread once a line is taken;
    // a pipe or file may hold answers already buffered, which polling the descriptor would not see.
    sigset_t interrupt;
    sigset_t before;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigprocmask(SIG_BLOCK, &interrupt, &before);
    bool go = g_StopRequested == 0;
    if (go && isatty(fileno(in))) {
        struct pollfd input = {fileno(in), POLLIN, 0};
        go = ppoll(&input, 1, nullptr, &before) == 1 && g_StopRequested == 0;
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return go && std::fgets(buffer, size, in) != nullptr;
}

} // namespace tarnhost
