// user32's wsprintfW for POSIX builds: the same 1024-character limit, through vswprintf.
#include "os/CallTrace.h"
#include "os/OsSeam.h"

#include <cstdarg>
#include <cwchar>

namespace tarnos {

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = std::vswprintf(buffer, 1024, format, args);
    va_end(args);
    if (n < 0) {
        n = 0;
        buffer[0] = L'\0';
    }
    CallTrace& trace = CallTrace::Instance();
    if (trace.Wants("wsprintfW")) {
        trace.Add(TraceEntry{"wsprintfW", {"L\"" + Narrow(format) + "\""}, "L\"" + Narrow(buffer) + "\""});
    }
    return n;
}

} // namespace tarnos
