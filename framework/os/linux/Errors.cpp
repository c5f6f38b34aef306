// Win32's last error on Linux: a thread-local Win32 code, with the errno it came from so that the text
// can be the system's own.
#include "os/WindowsErrorText.h"
#include "os/linux/Internal.h"

#include <cerrno>
#include <cstring>

namespace tarnos {
namespace {

// Per thread, as Win32's last error is.
thread_local DWORD t_code = ERROR_SUCCESS;
thread_local int t_errno = 0;

// strerror_r comes in a GNU (char*) and an XSI (int) form; take the text from either.
[[maybe_unused]] const char* StrerrorResult(const char* result, const char* /*buffer*/) {
    return result;
}
[[maybe_unused]] const char* StrerrorResult(int result, const char* buffer) {
    return result == 0 ? buffer : "Unknown error";
}

std::string Strerror(int error) {
    char buffer[256] = {};
    return StrerrorResult(strerror_r(error, buffer, sizeof buffer), buffer);
}

// errno -> Win32:
//   ENOENT, ENODEV, ENXIO                -> 2   ERROR_FILE_NOT_FOUND (no such device: refused without a
//                                                                   report, like a port that is not there)
//   EACCES, EPERM, EBUSY, EWOULDBLOCK    -> 5   ERROR_ACCESS_DENIED  (held by another opener, or no rights)
//   EIO                                  -> 31  ERROR_GEN_FAILURE    (device gone or broken)
//   EBADF                                -> 6   ERROR_INVALID_HANDLE
//   EINVAL                               -> 87  ERROR_INVALID_PARAMETER
//   ETIMEDOUT                            -> 121 ERROR_SEM_TIMEOUT
//   ENOTTY                               -> 50  ERROR_NOT_SUPPORTED  (not a serial line)
//   anything else                        -> 31  ERROR_GEN_FAILURE
DWORD Win32ErrorFromErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
        return ERROR_ACCESS_DENIED;
    case EIO:
        return ERROR_GEN_FAILURE;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ETIMEDOUT:
        return ERROR_SEM_TIMEOUT;
    case ENOTTY:
        return ERROR_NOT_SUPPORTED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

} // namespace

void SetLastErrorCode(DWORD code) {
    t_code = code;
    t_errno = 0;
}

void SetLastErrorFromErrno(int error) {
    SetLastErrorFromErrno(error, Win32ErrorFromErrno(error));
}

void SetLastErrorFromErrno(int error, DWORD code) {
    t_code = code;
    t_errno = error;
}

DWORD LastErrorCode() {
    return t_code;
}

std::string ErrorText(DWORD code) {
    if (code == t_code && t_errno != 0) {
        return Strerror(t_errno);
    }
    return WindowsErrorText(code);
}

} // namespace tarnos
