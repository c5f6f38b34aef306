// I/O-port access on Windows, behind the kernel-mode services library: the InpOut32/64 driver DLL
// (inpoutx64.dll). Without the DLL or its driver, DriverOpen is false, so the module's port object throws
// "TARN Driver not installed!" before any test. The I/O-port guard (os/IoPortGuard.h) stands in front of
// it: only the window of the port under test, as the host grants it from SetupAPI's resources, reaches the
// driver.
#include "os/IoPortGuard.h"
#include "os/OsBackend.h"

#include "os/TarnKernelModeServices.h"

namespace tarnos {
namespace {

// The DLL's exports (WINAPI is the one x64 calling convention anyway).
typedef BOOL(WINAPI* IsInpOutDriverOpenFn)();
typedef UCHAR(WINAPI* DlPortReadPortUcharFn)(USHORT port);
typedef void(WINAPI* DlPortWritePortUcharFn)(USHORT port, UCHAR value);

// GetProcAddress gives a FARPROC; going through void(*)() is the cast GCC accepts between function types.
template <typename Fn> Fn Export(HMODULE module, const char* name) {
    FARPROC proc = ::GetProcAddress(module, name);
    return proc == nullptr ? nullptr : reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

struct CInpOutLibrary {
    IsInpOutDriverOpenFn m_IsOpen = nullptr;
    DlPortReadPortUcharFn m_Read = nullptr;
    DlPortWritePortUcharFn m_Write = nullptr;

    bool Complete() const { return m_IsOpen != nullptr && m_Read != nullptr && m_Write != nullptr; }
};

// Loaded once per process and never freed: the driver stays open for the program's life.
CInpOutLibrary LoadInpOut() {
    CInpOutLibrary library;
    // The program's own folder and System32 only, never the current directory: this runs elevated, and a
    // planted DLL there would run with those rights. Systems without the search flags fall back.
    HMODULE module = ::LoadLibraryExW(L"inpoutx64.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (module == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER) {
        module = ::LoadLibraryW(L"inpoutx64.dll");
    }
    if (module == nullptr) {
        return library;
    }
    library.m_IsOpen = Export<IsInpOutDriverOpenFn>(module, "IsInpOutDriverOpen");
    library.m_Read = Export<DlPortReadPortUcharFn>(module, "DlPortReadPortUchar");
    library.m_Write = Export<DlPortWritePortUcharFn>(module, "DlPortWritePortUchar");
    return library;
}

const CInpOutLibrary& InpOut() {
    static const CInpOutLibrary library = LoadInpOut(); // thread-safe once
    return library;
}

class CInpOutPortIo final : public IPortIoBackend {
public:
    bool DriverOpen() override {
        const CInpOutLibrary& library = InpOut();
        return library.Complete() && library.m_IsOpen() != FALSE;
    }

    int ReadByte(unsigned short port, unsigned char* value) override {
        if (!DriverOpen()) {
            return TarnKernelModeServices::TARNSRVC_DRIVER_NOT_OPEN;
        }
        *value = InpOut().m_Read(port);
        return TarnKernelModeServices::TARNSRVC_SUCCESS;
    }

    int WriteByte(unsigned short port, unsigned char value) override {
        if (!DriverOpen()) {
            return TarnKernelModeServices::TARNSRVC_DRIVER_NOT_OPEN;
        }
        InpOut().m_Write(port, value);
        return TarnKernelModeServices::TARNSRVC_SUCCESS;
    }
};

} // namespace

CIoPortGuard& RealPortIoGuard() {
    static CInpOutPortIo backend;
    static CIoPortGuard guard(backend);
    return guard;
}

IPortIoBackend& RealPortIoBackend() {
    return RealPortIoGuard();
}

} // namespace tarnos
