// The simulated machine: the UARTs of the scenario in the 16-bit I/O space, a virtual COM driver per port
// behind Win32 handles, and the virtual clock that every call advances.
#include "sim/Simulation.h"

#include "os/CommDcbText.h"
#include "os/TarnKernelModeServices.h"
#include "os/WindowsErrorText.h"
#include "sim/ComDriver.h"
#include "sim/UartModel.h"
#include "uart/SerialReg.h"

#include <map>
#include <string>
#include <vector>

namespace tarnsim {
namespace {

const uint8_t FLOATING_BUS = 0xFF;     // what an I/O address no UART answers reads
const uint64_t REGISTER_ACCESS_US = 1; // every register access costs this, so busy polls end
const uint64_t US_PER_MS = 1000;
const uintptr_t FIRST_HANDLE = 0x1000;
const uintptr_t HANDLE_STEP = 4; // handles are multiples of four, as on Windows
const wchar_t DEVICE_PREFIX[] = L"\\\\.\\COM";

CSimulation* g_installed = nullptr;

// The n of "\\.\COMn" (n from 1, no leading zero), or 0 when the name has not exactly that form.
uint32_t ComNumber(LPCWSTR name) {
    if (name == nullptr) {
        return 0;
    }
    const std::wstring text(name);
    const std::wstring prefix(DEVICE_PREFIX);
    if (text.size() <= prefix.size() || text.compare(0, prefix.size(), prefix) != 0 ||
        text[prefix.size()] == L'0') {
        return 0;
    }
    uint64_t number = 0;
    for (size_t i = prefix.size(); i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
            return 0;
        }
        number = number * 10 + static_cast<uint64_t>(text[i] - L'0');
        if (number > 0xFFFFFFFFu) {
            return 0;
        }
    }
    return static_cast<uint32_t>(number);
}

} // namespace

struct CSimulation::Impl {
    struct Port {
        std::unique_ptr<IUartModel> uart; // null when the port has no I/O base
        std::unique_ptr<CComDriver> driver;
    };
    struct Mapped {
        uint16_t base;
        IUartModel* uart;
    };

    Scenario scenario; // the live config: ports are never added or removed, so references into it hold
    CVirtualClock clock;
    std::vector<Port> ports;
    std::vector<Mapped> ioSpace; // in scenario order: the first UART at an address answers there
    std::map<HANDLE, size_t> handles;
    uintptr_t nextHandle = FIRST_HANDLE;
    DWORD lastError = ERROR_SUCCESS;
    std::function<void(const std::string&, size_t)> hook;

    explicit Impl(const Scenario& s) : scenario(s) {
        for (PortConfig& config : scenario.ports) {
            Port port;
            if (config.io && !config.io->empty()) {
                port.uart = MakeUartModel(config.uart, clock);
                ioSpace.push_back(Mapped{static_cast<uint16_t>(config.io->front()), port.uart.get()});
            }
            port.driver.reset(new CComDriver(config.os, config.attached, clock));
            ports.push_back(std::move(port));
        }
    }

    IUartModel* At(unsigned short address, unsigned* offset) {
        for (const Mapped& m : ioSpace) {
            unsigned o = static_cast<uint16_t>(address - m.base); // 16-bit address arithmetic
            if (o < UART_REGISTER_COUNT) {
                *offset = o;
                return m.uart;
            }
        }
        return nullptr;
    }

    BOOL Fail(DWORD code) {
        lastError = code;
        return FALSE;
    }

    // The common path of every call on a handle: the hook, a pulled device, an injected failure, then the
    // driver's own operation.
    template <typename Operation> BOOL OnPort(HANDLE handle, const char* call, Operation operation) {
        auto it = handles.find(handle);
        if (it == handles.end()) {
            return Fail(ERROR_INVALID_HANDLE);
        }
        const size_t index = it->second;
        if (hook) {
            hook(call, index);
        }
        CComDriver& driver = *ports[index].driver;
        if (!driver.Connected()) {
            return Fail(ERROR_DEVICE_NOT_CONNECTED);
        }
        if (DWORD injected = driver.InjectedFailure(call)) {
            return Fail(injected);
        }
        if (DWORD error = operation(driver)) {
            return Fail(error);
        }
        return TRUE;
    }
};

CSimulation::CSimulation(const Scenario& scenario) : m_impl(new Impl(scenario)) {}

CSimulation::~CSimulation() {
    Uninstall();
}

void CSimulation::Install() {
    tarnos::SetBackends(this, this);
    g_installed = this;
}

void CSimulation::Uninstall() {
    if (g_installed == this) { // never uninstall a simulation installed after this one
        tarnos::SetBackends(nullptr, nullptr);
        g_installed = nullptr;
    }
}

CVirtualClock& CSimulation::Clock() {
    return m_impl->clock;
}
const Scenario& CSimulation::GetScenario() const {
    return m_impl->scenario;
}

void CSimulation::SetDriverInstalled(bool installed) {
    m_impl->scenario.driverInstalled = installed;
}
UartConfig& CSimulation::Uart(size_t portIndex) {
    return m_impl->scenario.ports.at(portIndex).uart;
}
OsConfig& CSimulation::Os(size_t portIndex) {
    return m_impl->scenario.ports.at(portIndex).os;
}
AttachedConfig& CSimulation::Attached(size_t portIndex) {
    return m_impl->scenario.ports.at(portIndex).attached;
}
void CSimulation::Disconnect(size_t portIndex) {
    m_impl->ports.at(portIndex).driver->Disconnect();
}
void CSimulation::Reconnect(size_t portIndex) {
    m_impl->ports.at(portIndex).driver->Reconnect();
}

void CSimulation::SetCallHook(std::function<void(const std::string& call, size_t portIndex)> hook) {
    m_impl->hook = std::move(hook);
}

unsigned CSimulation::OpenHandleCount() const {
    return static_cast<unsigned>(m_impl->handles.size());
}

uint8_t CSimulation::UartRegister(size_t portIndex, int offset) const {
    IUartModel* uart = m_impl->ports.at(portIndex).uart.get();
    if (uart == nullptr || offset < 0 || offset >= UART_REGISTER_COUNT) {
        return FLOATING_BUS;
    }
    return uart->Peek(static_cast<unsigned>(offset));
}

uint32_t CSimulation::CurrentBaud(size_t portIndex) const {
    return m_impl->ports.at(portIndex).driver->CurrentBaud();
}

// IWin32Backend

HANDLE CSimulation::CreateFileW(LPCWSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                                HANDLE) {
    Impl& s = *m_impl;
    const uint32_t number = ComNumber(name);
    size_t index = s.ports.size();
    for (size_t i = 0; number != 0 && i < s.scenario.ports.size(); ++i) {
        if (s.scenario.ports[i].com && *s.scenario.ports[i].com == number) {
            index = i;
            break;
        }
    }
    if (index == s.ports.size()) {
        s.Fail(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (s.hook) {
        s.hook("CreateFileW", index);
    }
    CComDriver& driver = *s.ports[index].driver;
    const OsConfig& os = s.scenario.ports[index].os;
    DWORD error = ERROR_SUCCESS;
    if (!driver.Connected()) {
        error = ERROR_FILE_NOT_FOUND; // the device is gone
    } else if (os.openError != 0) {
        error = os.openError;
    } else if (DWORD injected = driver.InjectedFailure("CreateFileW")) {
        error = injected;
    } else if (disposition != OPEN_EXISTING) {
        error = ERROR_INVALID_PARAMETER; // a device can only be opened, never created
    } else {
        error = driver.Open();
    }
    if (error != ERROR_SUCCESS) {
        s.Fail(error);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(s.nextHandle);
    s.nextHandle += HANDLE_STEP;
    s.handles[handle] = index;
    return handle;
}

// CloseHandle always releases the port, on a pulled device too; a `fail` entry makes it report a failure
// all the same (the handle is gone either way, as the module's Close assumes).
BOOL CSimulation::CloseHandle(HANDLE handle) {
    Impl& s = *m_impl;
    auto it = s.handles.find(handle);
    if (it == s.handles.end()) {
        return s.Fail(ERROR_INVALID_HANDLE);
    }
    const size_t index = it->second;
    if (s.hook) {
        s.hook("CloseHandle", index);
    }
    s.handles.erase(it);
    CComDriver& driver = *s.ports[index].driver;
    driver.Close();
    if (DWORD injected = driver.InjectedFailure("CloseHandle")) {
        return s.Fail(injected);
    }
    return TRUE;
}

BOOL CSimulation::GetCommState(HANDLE handle, DCB* dcb) {
    return m_impl->OnPort(handle, "GetCommState", [&](CComDriver& d) { return d.GetState(dcb); });
}

BOOL CSimulation::SetCommState(HANDLE handle, DCB* dcb) {
    return m_impl->OnPort(handle, "SetCommState", [&](CComDriver& d) { return d.SetState(dcb); });
}

BOOL CSimulation::BuildCommDCBW(LPCWSTR definition, DCB* dcb) {
    if (definition == nullptr || !tarnos::ParseCommDcbText(std::wstring(definition), dcb)) {
        return m_impl->Fail(ERROR_INVALID_PARAMETER);
    }
    return TRUE;
}

BOOL CSimulation::SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
    return m_impl->OnPort(handle, "SetupComm", [&](CComDriver& d) { return d.Setup(inQueue, outQueue); });
}

BOOL CSimulation::SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    return m_impl->OnPort(handle, "SetCommTimeouts", [&](CComDriver& d) { return d.SetTimeouts(timeouts); });
}

BOOL CSimulation::ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                           LPOVERLAPPED overlapped) {
    if (read != nullptr) {
        *read = 0;
    }
    return m_impl->OnPort(handle, "ReadFile", [&](CComDriver& d) {
        return overlapped != nullptr ? DWORD{ERROR_INVALID_PARAMETER} : d.Read(buffer, toRead, read);
    });
}

BOOL CSimulation::WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                            LPOVERLAPPED overlapped) {
    if (written != nullptr) {
        *written = 0;
    }
    return m_impl->OnPort(handle, "WriteFile", [&](CComDriver& d) {
        return overlapped != nullptr ? DWORD{ERROR_INVALID_PARAMETER} : d.Write(buffer, toWrite, written);
    });
}

BOOL CSimulation::GetCommModemStatus(HANDLE handle, LPDWORD status) {
    return m_impl->OnPort(handle, "GetCommModemStatus", [&](CComDriver& d) { return d.ModemStatus(status); });
}

BOOL CSimulation::GetCommProperties(HANDLE handle, LPCOMMPROP properties) {
    return m_impl->OnPort(handle, "GetCommProperties",
                          [&](CComDriver& d) { return d.Properties(properties); });
}

DWORD CSimulation::GetLastError() {
    return m_impl->lastError;
}

void CSimulation::Sleep(DWORD milliseconds) {
    m_impl->clock.AdvanceUs(uint64_t{milliseconds} * US_PER_MS);
}

DWORD CSimulation::GetTickCount() {
    return m_impl->clock.TickCount();
}

std::string CSimulation::SystemErrorText(DWORD code) {
    return tarnos::WindowsErrorText(code);
}

// IPortIoBackend: the access takes its microsecond first, then happens at the new moment.

bool CSimulation::DriverOpen() {
    // A check that finds the driver closed is followed by no transfer; it still takes its microsecond, so
    // that a busy poll over a closed driver (a wait for THRE or DR) reaches its deadline in virtual time.
    if (!m_impl->scenario.driverInstalled) {
        m_impl->clock.AdvanceUs(REGISTER_ACCESS_US);
    }
    return m_impl->scenario.driverInstalled;
}

int CSimulation::ReadByte(unsigned short port, unsigned char* value) {
    Impl& s = *m_impl;
    s.clock.AdvanceUs(REGISTER_ACCESS_US);
    if (!s.scenario.driverInstalled) {
        return TarnKernelModeServices::TARNSRVC_DRIVER_NOT_OPEN;
    }
    unsigned offset = 0;
    IUartModel* uart = s.At(port, &offset);
    *value = uart ? uart->Read(offset) : FLOATING_BUS;
    return TarnKernelModeServices::TARNSRVC_SUCCESS;
}

int CSimulation::WriteByte(unsigned short port, unsigned char value) {
    Impl& s = *m_impl;
    s.clock.AdvanceUs(REGISTER_ACCESS_US);
    if (!s.scenario.driverInstalled) {
        return TarnKernelModeServices::TARNSRVC_DRIVER_NOT_OPEN;
    }
    unsigned offset = 0;
    if (IUartModel* uart = s.At(port, &offset)) {
        uart->Write(offset, value);
    }
    return TarnKernelModeServices::TARNSRVC_SUCCESS;
}

} // namespace tarnsim
