// probe.exe: proves the Wine harness of tests/wine/ without the real program. It does, on one COM port
// given by name, what Part 4.2 does through kernel32 (the settings of Configure, an 8-byte write, a read)
// and reads the modem lines, printing one "key=value" line per finding.
//
// Usage: probe.exe COMn [expect-echo|expect-silence]
// Exit status: 0 when the port behaved as expected, 1 when not, 2 for bad arguments, 3 when it cannot open.
// It never chooses a port by itself: the harness always names one of the ports it mapped (COM5, COM6).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

constexpr DWORD PROBE_BYTES = 8;

void PrintWin32Failure(const char* what) {
    std::printf("%s=FALSE error=%lu\n", what, static_cast<unsigned long>(GetLastError()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || std::strncmp(argv[1], "COM", 3) != 0) {
        std::fprintf(stderr, "probe: usage: probe.exe COMn [expect-echo|expect-silence]\n");
        return 2;
    }
    const bool expectEcho = argc < 3 || std::strcmp(argv[2], "expect-echo") == 0;
    if (argc == 3 && !expectEcho && std::strcmp(argv[2], "expect-silence") != 0) {
        std::fprintf(stderr, "probe: unknown expectation '%s' (expect-echo or expect-silence)\n", argv[2]);
        return 2;
    }

    wchar_t name[32];
    std::swprintf(name, 32, L"\\\\.\\%hs", argv[1]);
    HANDLE port = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        PrintWin32Failure("CreateFileW");
        return 3;
    }
    std::printf("CreateFileW=TRUE type=%lu\n", static_cast<unsigned long>(GetFileType(port)));

    bool ok = true;
    // Part 4.2, Configure: frame, queues, flow-control flags cleared, the fixed time-outs.
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(port, &dcb)) {
        PrintWin32Failure("GetCommState");
        ok = false;
    } else {
        std::printf("GetCommState=TRUE baud=%lu\n", static_cast<unsigned long>(dcb.BaudRate));
    }
    if (!SetupComm(port, 2048, 2048)) {
        PrintWin32Failure("SetupComm");
    }
    BuildCommDCBW(L"baud=9600 parity=N data=8 stop=1", &dcb);
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fNull = FALSE;
    if (!SetCommState(port, &dcb)) {
        PrintWin32Failure("SetCommState");
        ok = false;
    }
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 1000};
    if (!SetCommTimeouts(port, &timeouts)) {
        PrintWin32Failure("SetCommTimeouts");
        ok = false;
    }
    COMMPROP properties{};
    if (GetCommProperties(port, &properties)) {
        std::printf("GetCommProperties=TRUE subtype=%lu settable=0x%lX\n",
                    static_cast<unsigned long>(properties.dwProvSubType),
                    static_cast<unsigned long>(properties.dwSettableBaud));
    } else {
        PrintWin32Failure("GetCommProperties");
    }

    // Bytes 0x11 and 0x13 are in the pattern on purpose: XON/XOFF must be off all the way through.
    const unsigned char sent[PROBE_BYTES] = {0x00, 0x11, 0x13, 0x55, 0xAA, 0x7F, 0x80, 0xFF};
    DWORD written = 0;
    if (!WriteFile(port, sent, PROBE_BYTES, &written, nullptr)) {
        PrintWin32Failure("WriteFile");
        ok = false;
    }
    std::printf("written=%lu\n", static_cast<unsigned long>(written));
    Sleep(200);
    unsigned char received[512] = {};
    DWORD read = 0;
    if (!ReadFile(port, received, sizeof received, &read, nullptr)) {
        PrintWin32Failure("ReadFile");
        ok = false;
    }
    const bool echoed = read == PROBE_BYTES && std::memcmp(sent, received, PROBE_BYTES) == 0;
    std::printf("read=%lu echo=%s\n", static_cast<unsigned long>(read), echoed ? "identical" : "no");
    ok = ok && written == PROBE_BYTES && (expectEcho ? echoed : read == 0);

    DWORD modem = 0;
    if (GetCommModemStatus(port, &modem)) {
        std::printf("GetCommModemStatus=TRUE value=0x%lX\n", static_cast<unsigned long>(modem));
    } else {
        PrintWin32Failure("GetCommModemStatus");
    }
    CloseHandle(port);
    std::printf("probe=%s\n", ok ? "ok" : "unexpected");
    return ok ? 0 : 1;
}
