#include "os/backends/windows/SystemErrorText.h"

namespace tarnos {
namespace windows {

std::string SystemErrorText(DWORD code) {
    LPWSTR wide = nullptr;
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                        FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, code, 0, reinterpret_cast<LPWSTR>(&wide), 0, nullptr);
    if (length == 0 || wide == nullptr) {
        return "Unknown error " + std::to_string(code) + ".";
    }
    // The system's texts end in CR/LF (some in a blank too).
    while (length > 0 &&
           (wide[length - 1] == L'\r' || wide[length - 1] == L'\n' || wide[length - 1] == L' ')) {
        --length;
    }
    std::string text;
    int bytes =
        ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (bytes > 0) {
        text.resize(static_cast<size_t>(bytes));
        ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), &text[0], bytes, nullptr, nullptr);
    }
    ::LocalFree(wide);
    return text;
}

} // namespace windows
} // namespace tarnos
