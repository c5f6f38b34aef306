#include "host/HostInfo.h"

#include <windows.h>

namespace tarnhost {
namespace {

std::string Narrow(const wchar_t* wide) {
    int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return "";
    }
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], size, nullptr, nullptr);
    text.resize(static_cast<size_t>(size - 1));
    return text;
}

} // namespace

std::string HostName() {
    wchar_t name[256] = {};
    DWORD size = 255;
    return GetComputerNameExW(ComputerNameDnsHostname, name, &size) ? Narrow(name) : "";
}

// GetVersionEx answers as the program's manifest allows (8.1 and later all say 6.2); ntdll's RtlGetVersion
// tells the real version.
std::string OsDescription() {
    typedef LONG(WINAPI * RtlGetVersionFunction)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    FARPROC address = ntdll ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (address == nullptr ||
        reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(address))(&info) != 0) {
        return "Windows";
    }
    return "Windows " + std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) +
           "." + std::to_string(info.dwBuildNumber);
}

} // namespace tarnhost
