// The simulated machine: the UARTs of the scenario in the 16-bit I/O space, a virtual COM driver per port
// behind Win32 handles, and the virtual clock that every call advances. Every call is counted, and the
// scenario's changes are made when the calls they wait for have been made.
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
const size_t NO_PORT = static_cast<size_t>(-1);

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
        size_t port;
    };
    struct OpenHandle {
        size_t port;
        bool deviceGone; // the adapter was pulled out while this handle was open
    };

    Scenario scenario; // the models' config: ports are never added or removed, so references into it hold
    CVirtualClock clock;
    std::vector<Port> ports;
    std::vector<Mapped> ioSpace; // in scenario order: the first UART at an address answers there
    std::map<HANDLE, OpenHandle> handles;
    uintptr_t nextHandle = FIRST_HANDLE;
    DWORD lastError = ERROR_SUCCESS;
    size_t lastPort = NO_PORT;            // the port of the latest call that named one
    uint64_t calls[SEAM_CALL_COUNT] = {}; // how often each seam call was made in this session
    size_t nextChange = 0;                // the first of scenario.changes not yet made
    const size_t changeCount;             // every register poll asks whether a change waits

    // Counts one seam call when the call is over, so that the changes it brings come after it.
    class CCountedCall {
    public:
        CCountedCall(Impl& machine, SeamCall call) : m_machine(machine), m_call(call) {}
        ~CCountedCall() { m_machine.Called(m_call); }
        CCountedCall(const CCountedCall&) = delete;
        CCountedCall& operator=(const CCountedCall&) = delete;

    private:
        Impl& m_machine;
        SeamCall m_call;
    };

    explicit Impl(const Scenario& given) : scenario(given), changeCount(given.changes.size()) {
        for (size_t i = 0; i < scenario.ports.size(); ++i) {
            PortConfig& config = scenario.ports[i];
            Port port;
            if (config.io && !config.io->empty()) {
                port.uart = MakeUartModel(config.uart, clock);
                ioSpace.push_back(Mapped{static_cast<uint16_t>(config.io->front()), i});
            }
            port.driver.reset(new CComDriver(config.os, config.attached, clock));
            ports.push_back(std::move(port));
        }
    }

    IUartModel* At(unsigned short address, unsigned* offset) {
        for (const Mapped& mapped : ioSpace) {
            // 16-bit address arithmetic: an address below the base wraps far beyond the eight registers.
            unsigned registerOffset = static_cast<uint16_t>(address - mapped.base);
            if (registerOffset < UART_REGISTER_COUNT) {
                *offset = registerOffset;
                return ports[mapped.port].uart.get();
            }
        }
        return nullptr;
    }

    BOOL Fail(DWORD code) {
        lastError = code;
        return FALSE;
    }

    // The common path of every call on a handle, counted: a device gone, an injected failure, then the
    // driver's own operation.
    template <typename Operation> BOOL OnPort(HANDLE handle, SeamCall call, Operation operation) {
        const CCountedCall counted(*this, call);
        auto it = handles.find(handle);
        if (it == handles.end()) {
            return Fail(ERROR_INVALID_HANDLE);
        }
        if (it->second.deviceGone) {
            return Fail(ERROR_DEVICE_NOT_CONNECTED);
        }
        lastPort = it->second.port;
        CComDriver& driver = *ports[lastPort].driver;
        if (DWORD injected = driver.InjectedFailure(call)) {
            return Fail(injected);
        }
        if (DWORD error = operation(driver)) {
            return Fail(error);
        }
        return TRUE;
    }

    // Counts a call that has just been made and makes the scenario's changes that were waiting for it.
    void Called(SeamCall call) {
        ++calls[static_cast<size_t>(call)];
        while (nextChange < changeCount) {
            const ScenarioChange& change = scenario.changes[nextChange];
            if (calls[static_cast<size_t>(change.call)] < change.count) {
                return;
            }
            ++nextChange;
            Make(change);
        }
    }

    void Make(const ScenarioChange& change) {
        if (change.driverInstalled) {
            scenario.driverInstalled = *change.driverInstalled;
        }
        if (!change.port) {
            return;
        }
        const size_t index = *change.port;
        PortConfig& config = scenario.ports[index];
        Port& port = ports[index];
        if (change.uart) {
            // Another model or script is another chip, which starts from its power-on state; any other
            // key changes a fault of the chip in place, which the models read at every access.
            const bool otherChip =
                change.uart->model != config.uart.model || change.uart->reads != config.uart.reads;
            config.uart = *change.uart;
            if (otherChip && port.uart) {
                port.uart = MakeUartModel(config.uart, clock);
            }
        }
        if (change.os) {
            config.os = *change.os;
        }
        if (change.attached) {
            config.attached = *change.attached;
        }
        if (change.connected && *change.connected != config.connected) {
            config.connected = *change.connected;
            // An adapter pulled out takes its driver along: the handles opened on it stay dead even once it
            // is back, and it comes back as at power-on, closed, with the configured rate.
            for (auto& entry : handles) {
                entry.second.deviceGone = entry.second.deviceGone || entry.second.port == index;
            }
            port.driver.reset(new CComDriver(config.os, config.attached, clock));
        }
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

// IWin32Backend

HANDLE CSimulation::CreateFileW(LPCWSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                                HANDLE) {
    Impl& machine = *m_impl;
    const Impl::CCountedCall counted(machine, SeamCall::CreateFileW);
    const uint32_t number = ComNumber(name);
    size_t index = machine.ports.size();
    for (size_t i = 0; number != 0 && i < machine.scenario.ports.size(); ++i) {
        if (machine.scenario.ports[i].com && *machine.scenario.ports[i].com == number) {
            index = i;
            break;
        }
    }
    if (index == machine.ports.size()) {
        machine.Fail(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    machine.lastPort = index;
    CComDriver& driver = *machine.ports[index].driver;
    const PortConfig& config = machine.scenario.ports[index];
    DWORD error = ERROR_SUCCESS;
    if (!config.connected) {
        error = ERROR_FILE_NOT_FOUND; // a pulled-out adapter's device no longer exists
    } else if (config.os.openError != 0) {
        error = config.os.openError;
    } else if (DWORD injected = driver.InjectedFailure(SeamCall::CreateFileW)) {
        error = injected;
    } else if (disposition != OPEN_EXISTING) {
        error = ERROR_INVALID_PARAMETER; // a device can only be opened, never created
    } else {
        error = driver.Open();
    }
    if (error != ERROR_SUCCESS) {
        machine.Fail(error);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(machine.nextHandle);
    machine.nextHandle += HANDLE_STEP;
    machine.handles[handle] = Impl::OpenHandle{index, false};
    return handle;
}

// CloseHandle always releases the port; a `fail` entry makes it report a failure all the same (the handle
// is gone either way, as the module's Close assumes). The handle of a pulled-out adapter closes without
// error, as Windows lets an application close what it holds on a removed device.
BOOL CSimulation::CloseHandle(HANDLE handle) {
    Impl& machine = *m_impl;
    const Impl::CCountedCall counted(machine, SeamCall::CloseHandle);
    auto it = machine.handles.find(handle);
    if (it == machine.handles.end()) {
        return machine.Fail(ERROR_INVALID_HANDLE);
    }
    const Impl::OpenHandle closed = it->second;
    machine.handles.erase(it);
    if (closed.deviceGone) {
        return TRUE;
    }
    machine.lastPort = closed.port;
    CComDriver& driver = *machine.ports[closed.port].driver;
    driver.Close();
    if (DWORD injected = driver.InjectedFailure(SeamCall::CloseHandle)) {
        return machine.Fail(injected);
    }
    return TRUE;
}

BOOL CSimulation::GetCommState(HANDLE handle, DCB* dcb) {
    return m_impl->OnPort(handle, SeamCall::GetCommState,
                          [&](CComDriver& driver) { return driver.GetState(dcb); });
}

BOOL CSimulation::SetCommState(HANDLE handle, DCB* dcb) {
    return m_impl->OnPort(handle, SeamCall::SetCommState,
                          [&](CComDriver& driver) { return driver.SetState(dcb); });
}

// BuildCommDCBW names no port: kernel32 parses the text on its own. A port's `fail` entry for it stands for
// a frame text that Windows refuses for that port, so it is charged to the port of the latest call, the one
// being configured (GetCommState and SetupComm come just before it). On failure the DCB stays as it was.
BOOL CSimulation::BuildCommDCBW(LPCWSTR definition, DCB* dcb) {
    Impl& machine = *m_impl;
    const Impl::CCountedCall counted(machine, SeamCall::BuildCommDCBW);
    if (machine.lastPort != NO_PORT) {
        if (DWORD injected =
                machine.ports[machine.lastPort].driver->InjectedFailure(SeamCall::BuildCommDCBW)) {
            return machine.Fail(injected);
        }
    }
    if (definition == nullptr || !tarnos::ParseCommDcbText(std::wstring(definition), dcb)) {
        return machine.Fail(ERROR_INVALID_PARAMETER);
    }
    return TRUE;
}

BOOL CSimulation::SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
    return m_impl->OnPort(handle, SeamCall::SetupComm,
                          [&](CComDriver& driver) { return driver.Setup(inQueue, outQueue); });
}

BOOL CSimulation::SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    return m_impl->OnPort(handle, SeamCall::SetCommTimeouts,
                          [&](CComDriver& driver) { return driver.SetTimeouts(timeouts); });
}

BOOL CSimulation::GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    return m_impl->OnPort(handle, SeamCall::GetCommTimeouts,
                          [&](CComDriver& driver) { return driver.GetTimeouts(timeouts); });
}

BOOL CSimulation::ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                           LPOVERLAPPED overlapped) {
    if (read != nullptr) {
        *read = 0;
    }
    return m_impl->OnPort(handle, SeamCall::ReadFile, [&](CComDriver& driver) {
        return overlapped != nullptr ? DWORD{ERROR_INVALID_PARAMETER} : driver.Read(buffer, toRead, read);
    });
}

BOOL CSimulation::WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                            LPOVERLAPPED overlapped) {
    if (written != nullptr) {
        *written = 0;
    }
    return m_impl->OnPort(handle, SeamCall::WriteFile, [&](CComDriver& driver) {
        return overlapped != nullptr ? DWORD{ERROR_INVALID_PARAMETER}
                                     : driver.Write(buffer, toWrite, written);
    });
}

BOOL CSimulation::GetCommModemStatus(HANDLE handle, LPDWORD status) {
    return m_impl->OnPort(handle, SeamCall::GetCommModemStatus,
                          [&](CComDriver& driver) { return driver.ModemStatus(status); });
}

BOOL CSimulation::GetCommProperties(HANDLE handle, LPCOMMPROP properties) {
    return m_impl->OnPort(handle, SeamCall::GetCommProperties,
                          [&](CComDriver& driver) { return driver.Properties(properties); });
}

DWORD CSimulation::GetLastError() {
    const Impl::CCountedCall counted(*m_impl, SeamCall::GetLastError);
    return m_impl->lastError;
}

void CSimulation::Sleep(DWORD milliseconds) {
    const Impl::CCountedCall counted(*m_impl, SeamCall::Sleep);
    m_impl->clock.AdvanceUs(uint64_t{milliseconds} * US_PER_MS);
}

DWORD CSimulation::GetTickCount() {
    Impl& machine = *m_impl;
    const Impl::CCountedCall counted(machine, SeamCall::GetTickCount);
    return machine.clock.TickCount();
}

std::string CSimulation::SystemErrorText(DWORD code) {
    return tarnos::WindowsErrorText(code);
}

// IPortIoBackend: the access takes its microsecond first, then happens at the new moment.

bool CSimulation::DriverOpen() {
    Impl& machine = *m_impl;
    const Impl::CCountedCall counted(machine, SeamCall::DriverOpened);
    // A check that finds the driver closed is followed by no transfer; it still takes its microsecond, so
    // that a busy poll over a closed driver (a wait for THRE or DR) reaches its deadline in virtual time.
    if (!machine.scenario.driverInstalled) {
        machine.clock.AdvanceUs(REGISTER_ACCESS_US);
    }
    return machine.scenario.driverInstalled;
}

int CSimulation::ReadByte(unsigned short port, unsigned char* value) {
    Impl& machine = *m_impl;
    const Impl::CCountedCall counted(machine, SeamCall::PortReadByte);
    machine.clock.AdvanceUs(REGISTER_ACCESS_US);
    if (!machine.scenario.driverInstalled) {
        return TarnKernelModeServices::TARNSRVC_DRIVER_NOT_OPEN;
    }
    unsigned offset = 0;
    IUartModel* uart = machine.At(port, &offset);
    *value = uart ? uart->Read(offset) : FLOATING_BUS;
    return TarnKernelModeServices::TARNSRVC_SUCCESS;
}

int CSimulation::WriteByte(unsigned short port, unsigned char value) {
    Impl& machine = *m_impl;
    const Impl::CCountedCall counted(machine, SeamCall::PortWriteByte);
    machine.clock.AdvanceUs(REGISTER_ACCESS_US);
    if (!machine.scenario.driverInstalled) {
        return TarnKernelModeServices::TARNSRVC_DRIVER_NOT_OPEN;
    }
    unsigned offset = 0;
    if (IUartModel* uart = machine.At(port, &offset)) {
        uart->Write(offset, value);
    }
    return TarnKernelModeServices::TARNSRVC_SUCCESS;
}

} // namespace tarnsim
