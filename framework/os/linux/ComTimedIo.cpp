// ReadFile and WriteFile on Linux: a non-blocking tty descriptor, each wait a poll() bounded by the
// port's COMMTIMEOUTS, which mean for a read:
//   MAXDWORD, 0, 0         at once with what has arrived, possibly nothing;
//   MAXDWORD, MAXDWORD, c  at once if anything has arrived, else as soon as a byte does, at most c ms;
//   0, 0, 0                no time-out: until count bytes have arrived;
//   i, m, c otherwise      until count bytes, or m * count + c ms in all (when m or c is nonzero), or
//                          i ms between two bytes after the first (when i is neither 0 nor MAXDWORD);
// and for a write: all count bytes, or as many as go out within m * count + c ms
// (WriteTotalTimeoutMultiplier and WriteTotalTimeoutConstant; no limit when both are 0).
#include "os/linux/Internal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

#include <poll.h>
#include <unistd.h>

namespace tarnos {
namespace {

// No time limit: larger than every deadline, so min() picks any real one.
const int64_t NO_LIMIT = INT64_MAX;

// Waits for the descriptor to become ready. Returns 0 (ready or timed out: the caller looks again) or an
// errno; a hung-up or broken line is EIO, so a read or write on it ends instead of spinning.
int WaitFor(int fd, short events, int64_t milliseconds) {
    pollfd p{fd, events, 0};
    int wait = milliseconds == NO_LIMIT ? -1 : static_cast<int>(std::min<int64_t>(milliseconds, INT_MAX));
    int n = poll(&p, 1, wait);
    if (n < 0) {
        return errno == EINTR ? 0 : errno;
    }
    // A hung-up pty reports POLLIN too, with nothing to read: the error bits decide.
    if (n > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        return (p.revents & POLLNVAL) != 0 ? EBADF : EIO;
    }
    return 0;
}

} // namespace

int TimedRead(int fd, unsigned char* buffer, DWORD count, const COMMTIMEOUTS& t, DWORD* done) {
    *done = 0;
    if (count == 0) {
        return 0;
    }
    const bool atOnce = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                        t.ReadTotalTimeoutConstant == 0;
    const bool firstByte = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                           t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    int64_t total = NO_LIMIT;
    if (firstByte) {
        total = t.ReadTotalTimeoutConstant;
    } else if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
        total = static_cast<int64_t>(t.ReadTotalTimeoutMultiplier) * count + t.ReadTotalTimeoutConstant;
    }
    const int64_t interval =
        (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD) ? t.ReadIntervalTimeout : NO_LIMIT;

    const uint64_t start = MonotonicMilliseconds();
    uint64_t lastByte = start;
    for (;;) {
        ssize_t n = read(fd, buffer + *done, count - *done);
        if (n > 0) {
            *done += static_cast<DWORD>(n);
            lastByte = MonotonicMilliseconds();
            if (*done == count || firstByte) {
                return 0;
            }
            continue; // more may be there already
        }
        // In raw mode (VMIN 1) an empty line reads as EAGAIN; 0 is end of file: the line was hung up.
        if (n == 0) {
            return EIO;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return errno;
        }
        if (atOnce) {
            return 0;
        }
        const int64_t now = static_cast<int64_t>(MonotonicMilliseconds());
        int64_t wait = NO_LIMIT;
        if (total != NO_LIMIT) {
            wait = static_cast<int64_t>(start) + total - now;
        }
        if (interval != NO_LIMIT && *done > 0) {
            wait = std::min(wait, static_cast<int64_t>(lastByte) + interval - now);
        }
        if (wait <= 0) {
            return 0; // timed out: the bytes so far are the result
        }
        int error = WaitFor(fd, POLLIN, wait);
        if (error != 0) {
            return error;
        }
    }
}

int TimedWrite(int fd, const unsigned char* buffer, DWORD count, const COMMTIMEOUTS& t, DWORD* done) {
    *done = 0;
    const int64_t total =
        static_cast<int64_t>(t.WriteTotalTimeoutMultiplier) * count + t.WriteTotalTimeoutConstant;
    const uint64_t start = MonotonicMilliseconds();
    while (*done < count) {
        ssize_t n = write(fd, buffer + *done, count - *done);
        if (n > 0) {
            *done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return errno;
        }
        int64_t wait = NO_LIMIT;
        if (total != 0) {
            wait = static_cast<int64_t>(start) + total - static_cast<int64_t>(MonotonicMilliseconds());
            if (wait <= 0) {
                return 0; // timed out: Windows completes the write with the count sent so far
            }
        }
        int error = WaitFor(fd, POLLOUT, wait);
        if (error != 0) {
            return error;
        }
    }
    return 0;
}

} // namespace tarnos
