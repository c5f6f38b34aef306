// inpoutx64.dll stand-in for the Wine integration test, never shipped. Wine has no InpOut driver, so every
// run, the external tests' too, would end at the port object's constructor with "TARN Driver not installed!".
// This stand-in says the driver is open, so that the external tests' own code, which reaches the port
// through kernel32 only, runs. It reaches no I/O port: a read gives 0xFF, as where no UART answers, and a
// write vanishes; each is told on standard error, where the test expects nothing.
#include <windows.h>

#include <cstdio>

extern "C" {

__declspec(dllexport) BOOL WINAPI IsInpOutDriverOpen() {
    return TRUE;
}

__declspec(dllexport) UCHAR WINAPI DlPortReadPortUchar(USHORT port) {
    std::fprintf(stderr, "inpout stand-in: read 0x%04X\n", port);
    return 0xFF;
}

__declspec(dllexport) void WINAPI DlPortWritePortUchar(USHORT port, UCHAR /*value*/) {
    std::fprintf(stderr, "inpout stand-in: write 0x%04X\n", port);
}

} // extern "C"
