// The thread's last error of the Linux backend, in Win32 codes, with the errno it came from (for the text).
#pragma once

#include "os/Win32Types.h"

#include <string>

namespace tarnos {
namespace posix {

// The errno -> Win32 table of docs/decisions-backends.md.
DWORD Win32ErrorFromErrno(int error);

// A failure with no errno behind it (a bad argument, an unmapped COM number).
void SetLastErrorCode(DWORD code);
// A failure of a system call: the code from the table, and the errno kept for the text.
void SetLastErrorFromErrno(int error);
// A failure of a system call reported under a code of the caller's choosing (TIOCMGET on a pty -> 50).
void SetLastErrorFromErrno(int error, DWORD code);

DWORD LastErrorCode();

// strerror of the saved errno when the code is the thread's last error and came from an errno; else the
// fixed English text of the code.
std::string ErrorText(DWORD code);

} // namespace posix
} // namespace tarnos
