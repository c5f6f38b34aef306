// user32's wsprintfW itself, through wvsprintfW, recorded in the call trace.
#include "os/CallTrace.h"
#include "os/OsSeam.h"

#include <cstdarg>

namespace tarnos {

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = ::wvsprintfW(buffer, format, args);
    va_end(args);
    CallTrace& trace = CallTrace::Instance();
    if (trace.Wants("wsprintfW")) {
        trace.Add(TraceEntry{"wsprintfW", {"L\"" + Narrow(format) + "\""}, "L\"" + Narrow(buffer) + "\""});
    }
    return n;
}

} // namespace tarnos
