#include "host/Stop.h"

#include "host/HostError.h"

#include <windows.h>

#include <cstdlib>

namespace tarnhost {
namespace {

volatile LONG g_StopRequested = 0;
volatile LONG g_AfterCurrentTest = 0;

// Runs on a thread of its own that the system starts for the console event.
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE; // closing the console or logging off: the default handling ends the process
    }
    if (InterlockedExchange(&g_StopRequested, 1) != 0) {
        static const char QUIT[] = "\ntarnserialport: second Ctrl-C, quitting at once\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), QUIT, sizeof QUIT - 1, &written, nullptr);
        _exit(EXIT_INTERRUPTED);
    }
    static const char STOPPING[] =
        "\ntarnserialport: stopping at the test's next stop check (Ctrl-C again to quit at once)\n";
    static const char ENDING[] =
        "\ntarnserialport: ending the soak after this test (Ctrl-C again to quit at once)\n";
    const char* message = g_AfterCurrentTest ? ENDING : STOPPING;
    DWORD size = static_cast<DWORD>(g_AfterCurrentTest ? sizeof ENDING - 1 : sizeof STOPPING - 1);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), message, size, &written, nullptr);
    return TRUE;
}

} // namespace

void InstallStopHandler(bool afterCurrentTest) {
    g_AfterCurrentTest = afterCurrentTest ? 1 : 0;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool StopRequested() {
    return InterlockedCompareExchange(&g_StopRequested, 0, 0) != 0;
}

bool ReadAnswerLine(std::FILE* in, char* buffer, int size) {
    // The console handler runs on a thread of its own; a Ctrl-C during the read ends it with no line.
    return !StopRequested() && std::fgets(buffer, size, in) != nullptr;
}

} // namespace tarnhost
