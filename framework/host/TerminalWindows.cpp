#include "host/Terminal.h"

#include <windows.h>

#include <io.h>

namespace tarnhost {
namespace {

HANDLE HandleOf(std::FILE* stream) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

} // namespace

// A console only: _isatty is also true for the NUL device, which would make "< NUL" ask and read EOF.
bool IsTerminal(std::FILE* stream) {
    HANDLE handle = HandleOf(stream);
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

int TerminalColumns(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(HandleOf(stream), &info)) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

// Consoles before Windows 10 know no ANSI sequences; later ones only once asked to process them.
bool EnableColour(std::FILE* stream) {
    HANDLE handle = HandleOf(stream);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
        return false;
    }
    const DWORD VT_PROCESSING = 0x0004; // ENABLE_VIRTUAL_TERMINAL_PROCESSING, absent from older headers
    return (mode & VT_PROCESSING) != 0 || SetConsoleMode(handle, mode | VT_PROCESSING) != 0;
}

} // namespace tarnhost
