#include "host/Terminal.h"

#include <windows.h>

#include <io.h>

namespace tarnhost {

// A console only: _isatty is also true for the NUL device, which would make "< NUL" ask and read EOF.
bool IsTerminal(std::FILE* stream) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

} // namespace tarnhost
