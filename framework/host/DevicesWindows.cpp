// Windows device enumeration: the present devices of the Ports class whose PortName is COMn, with the
// first I/O range of their allocated resources as IoBaseAddresses. Nothing is opened.
#include "host/Devices.h"

#include "host/DriverFifo.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cwctype>
#include <vector>

namespace tarnhost {
namespace {

// GUID_DEVCLASS_PORTS, spelt out so no translation unit needs INITGUID.
const GUID PORTS_CLASS = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) {
        return "";
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &text[0], size, nullptr, nullptr);
    text.resize(text.find('\0'));
    return text;
}

// "COM3" -> 3; 0 for LPT ports and anything else.
unsigned ComNumber(const std::wstring& portName) {
    if (portName.size() < 4 || portName.compare(0, 3, L"COM") != 0) {
        return 0;
    }
    unsigned number = 0;
    for (size_t i = 3; i < portName.size(); ++i) {
        if (!std::iswdigit(portName[i]) || number > 100000) {
            return 0;
        }
        number = number * 10 + static_cast<unsigned>(portName[i] - L'0');
    }
    return number;
}

std::wstring PortName(HDEVINFO set, SP_DEVINFO_DATA& data) {
    HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return L"";
    }
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof name[0]; // room for the terminator RegQueryValueExW may leave out
    DWORD type = 0;
    LONG status = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? std::wstring(name) : std::wstring();
}

std::wstring FriendlyName(HDEVINFO set, SP_DEVINFO_DATA& data) {
    wchar_t name[256] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_FRIENDLYNAME, nullptr,
                                           reinterpret_cast<BYTE*>(name), sizeof name - sizeof name[0],
                                           nullptr)) {
        return L"";
    }
    return name;
}

// The base of the device's first allocated I/O range (boot configuration as a fallback), 0 for none;
// allocated tells which. Only an allocated range is a window the I/O-port guard lets through.
uint32_t IoBase(DEVINST device, bool* allocated) {
    for (ULONG which : {ALLOC_LOG_CONF, BOOT_LOG_CONF}) {
        *allocated = which == ALLOC_LOG_CONF;
        LOG_CONF config = 0;
        if (CM_Get_First_Log_Conf(&config, device, which) != CR_SUCCESS) {
            continue;
        }
        RES_DES resource = 0;
        uint32_t base = 0;
        if (CM_Get_Next_Res_Des(&resource, config, ResType_IO, nullptr, 0) == CR_SUCCESS) {
            ULONG size = 0;
            if (CM_Get_Res_Des_Data_Size(&size, resource, 0) == CR_SUCCESS && size >= sizeof(IO_DES)) {
                std::vector<char> buffer(size);
                if (CM_Get_Res_Des_Data(resource, buffer.data(), size, 0) == CR_SUCCESS) {
                    const IO_DES* io = reinterpret_cast<const IO_DES*>(buffer.data());
                    base = io->IOD_Alloc_Base <= 0xFFFF ? static_cast<uint32_t>(io->IOD_Alloc_Base) : 0;
                }
            }
            CM_Free_Res_Des_Handle(resource);
        }
        CM_Free_Log_Conf_Handle(config);
        if (base != 0) {
            return base;
        }
    }
    return 0;
}

// The COM ports the serial drivers publish under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, for ports that the
// Ports class does not list (virtual ports, and every port under Wine). Only names: no I/O base, so the
// register-level tests answer NOTSUPPORTED on them.
std::vector<std::pair<unsigned, std::wstring>> SerialCommPorts() {
    std::vector<std::pair<unsigned, std::wstring>> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return ports;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256] = {};
        DWORD valueNameSize = 255;
        wchar_t data[64] = {};
        DWORD dataSize = sizeof data - sizeof data[0];
        DWORD type = 0;
        LONG status = RegEnumValueW(key, index, valueName, &valueNameSize, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        std::wstring portName(data);
        if (unsigned com = ComNumber(portName)) {
            ports.emplace_back(com, std::wstring(valueName));
        }
    }
    RegCloseKey(key);
    return ports;
}

} // namespace

PlatformPorts EnumeratePlatformPorts() {
    PlatformPorts ports;
    std::vector<std::pair<unsigned, HostDevice>> found;
    HDEVINFO set = SetupDiGetClassDevsW(&PORTS_CLASS, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    for (DWORD index = 0; set != INVALID_HANDLE_VALUE && SetupDiEnumDeviceInfo(set, index, &data); ++index) {
        std::wstring portName = PortName(set, data);
        unsigned com = ComNumber(portName);
        if (com == 0) {
            continue;
        }
        kivu5::DiagDevice device("COM" + std::to_string(com));
        device.setProperty("ComPortNumber", kivu5::Value::Uint32(com));
        // USB adapters have no I/O range: the device then lacks the property and the register-level tests
        // answer NOTSUPPORTED without touching a register.
        bool allocated = false;
        if (uint32_t base = IoBase(data.DevInst, &allocated)) {
            device.setProperty("IoBaseAddresses", kivu5::Value::Uint32Array({base}));
            // Never flagged console: a port given to EMS redirection or a serial kernel debugger is not
            // detected here (left open, docs/reliability.md).
            if (allocated) {
                ports.windows.push_back(tarnos::UartWindow{base, device.name(), false});
            }
        }
        std::string os = "\\\\.\\" + Narrow(portName);
        std::string friendly = Narrow(FriendlyName(set, data));
        HostDevice host{device, friendly.empty() ? os : os + " (" + friendly + ")"};
        SetWindowsDriverFifo(host); // a port with an I/O range is the serial driver's
        found.emplace_back(com, host);
    }
    if (set != INVALID_HANDLE_VALUE) {
        SetupDiDestroyDeviceInfoList(set);
    }
    for (const auto& published : SerialCommPorts()) {
        unsigned com = published.first;
        if (std::any_of(found.begin(), found.end(), [com](const auto& item) { return item.first == com; })) {
            continue;
        }
        kivu5::DiagDevice device("COM" + std::to_string(com));
        device.setProperty("ComPortNumber", kivu5::Value::Uint32(com));
        found.emplace_back(com, HostDevice{device, "\\\\.\\COM" + std::to_string(com) + " (" +
                                                       Narrow(published.second) + ")"});
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& item : found) {
        ports.devices.push_back(std::move(item.second));
    }
    return ports;
}

} // namespace tarnhost
