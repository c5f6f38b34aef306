#include "host/Stop.h"

#include "host/HostError.h"

#include <csignal>
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

} // namespace tarnhost
