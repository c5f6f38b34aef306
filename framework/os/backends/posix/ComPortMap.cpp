#include "os/backends/posix/ComPortMap.h"

#include <map>

namespace tarnos {
namespace posix {
namespace {

std::map<unsigned, std::string> g_map;

const wchar_t COM_PREFIX[] = L"\\\\.\\COM";

} // namespace

void MapComPort(unsigned number, std::string path) {
    g_map[number] = std::move(path);
}

void ClearComPortMap() {
    g_map.clear();
}

bool ComPortPath(unsigned number, std::string* path) {
    auto it = g_map.find(number);
    if (it == g_map.end()) {
        return false;
    }
    *path = it->second;
    return true;
}

bool ParseComDeviceName(const wchar_t* name, unsigned* number) {
    if (name == nullptr) {
        return false;
    }
    const size_t prefixLength = sizeof COM_PREFIX / sizeof COM_PREFIX[0] - 1;
    for (size_t i = 0; i < prefixLength; ++i) {
        if (name[i] != COM_PREFIX[i]) {
            return false;
        }
    }
    const wchar_t* digits = name + prefixLength;
    if (*digits < L'1' || *digits > L'9') { // no COM0, no leading zero, no sign
        return false;
    }
    unsigned long long value = 0;
    for (const wchar_t* p = digits; *p != L'\0'; ++p) {
        if (*p < L'0' || *p > L'9') {
            return false; // "COM3X" is no COM port, as on Windows
        }
        value = value * 10 + static_cast<unsigned>(*p - L'0');
        if (value > 0xFFFFFFFFull) {
            return false;
        }
    }
    *number = static_cast<unsigned>(value);
    return true;
}

} // namespace posix
} // namespace tarnos
