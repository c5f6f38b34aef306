#include "os/backends/posix/ComHandles.h"

#include <cstdint>
#include <map>

namespace tarnos {
namespace posix {
namespace {

std::mutex g_handlesLock;
std::map<uintptr_t, std::shared_ptr<CComPort>> g_handles;
// Handles count up in steps of 4 as Windows' do; a closed handle's value is never given out again, so a
// stale handle fails with ERROR_INVALID_HANDLE instead of reaching another port.
uintptr_t g_nextHandle = 0x1000;

} // namespace

HANDLE AddComPort(std::shared_ptr<CComPort> port) {
    std::lock_guard<std::mutex> lock(g_handlesLock);
    uintptr_t value = g_nextHandle;
    g_nextHandle += 4;
    g_handles[value] = std::move(port);
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<CComPort> FindComPort(HANDLE handle) {
    std::lock_guard<std::mutex> lock(g_handlesLock);
    auto it = g_handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == g_handles.end() ? nullptr : it->second;
}

std::shared_ptr<CComPort> RemoveComPort(HANDLE handle) {
    std::lock_guard<std::mutex> lock(g_handlesLock);
    auto it = g_handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == g_handles.end()) {
        return nullptr;
    }
    std::shared_ptr<CComPort> port = std::move(it->second);
    g_handles.erase(it);
    return port;
}

} // namespace posix
} // namespace tarnos
