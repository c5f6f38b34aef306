// ReadFile and WriteFile on a non-blocking tty descriptor, timed by COMMTIMEOUTS as Windows documents them.
#pragma once

#include "os/Win32Types.h"

namespace tarnos {
namespace posix {

// Reads up to count bytes into buffer; *done is the number read. Returns 0, or the errno of a failure
// (bytes read before it are still counted). A time-out is no failure: the read ends with what it has.
//   MAXDWORD, 0, 0         at once with what has arrived, possibly nothing;
//   MAXDWORD, MAXDWORD, c  at once if anything has arrived, else as soon as a byte does, at most c ms;
//   0, 0, 0                no time-out: until count bytes have arrived;
//   i, m, c otherwise      until count bytes, or m * count + c ms in all (when m or c is nonzero), or
//                          i ms between two bytes after the first (when i is neither 0 nor MAXDWORD).
int TimedRead(int fd, unsigned char* buffer, DWORD count, const COMMTIMEOUTS& timeouts, DWORD* done);

// Writes all count bytes, or as many as go out within m * count + c ms (WriteTotalTimeoutMultiplier and
// WriteTotalTimeoutConstant; no limit when both are 0). Returns 0 (also after a time-out), or an errno.
int TimedWrite(int fd, const unsigned char* buffer, DWORD count, const COMMTIMEOUTS& timeouts, DWORD* done);

} // namespace posix
} // namespace tarnos
