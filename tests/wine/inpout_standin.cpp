// inpoutx64.dll stand-in, for the Wine integration test only (never shipped, never beside the built
// program: run-integration.sh copies both into a folder of their own).
//
// Under Wine there is no InpOut driver, so the real backend reports the kernel-mode driver closed and
// every test run, external ones included, ends at the port object's constructor with "TARN Driver not
// installed!" (Parts 3.1 step 6, 4.1). To reach the external tests' own code (Parts 3.2, 4.2, 5.4-5.6),
// which goes through kernel32 and never through the registers, this stand-in reports the driver open.
// It touches no I/O port: a read gives 0xFF (an address where no UART answers) and a write vanishes, and
// each is reported on standard error so that the test can assert that the external tests made none.
#include <windows.h>

#include <cstdio>

namespace {

void Report(const char* what, USHORT port) {
    char line[64];
    int length = std::snprintf(line, sizeof line, "inpout stand-in: %s 0x%04X\n", what, port);
    DWORD written = 0;
    if (length > 0) {
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
    }
}

} // namespace

extern "C" {

__declspec(dllexport) BOOL WINAPI IsInpOutDriverOpen() {
    return TRUE;
}

__declspec(dllexport) UCHAR WINAPI DlPortReadPortUchar(USHORT port) {
    Report("read", port);
    return 0xFF;
}

__declspec(dllexport) void WINAPI DlPortWritePortUchar(USHORT port, UCHAR /*value*/) {
    Report("write", port);
}

} // extern "C"
