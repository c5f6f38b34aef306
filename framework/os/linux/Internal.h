// What the files of the Linux backend share. Nothing outside framework/os/linux/ includes it.
#pragma once

#include "os/Win32Types.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <termios.h>

namespace tarnos {

// An open COM port (ComPort.cpp): one tty descriptor, with the Win32 state that termios has no room for.
struct CComPort {
    int m_Fd = -1;
    std::string m_Path;
    termios m_Found{}; // the terminal's settings at open, put back at close
    std::mutex m_Lock; // guards the fields below: a Win32 handle may be used from any thread
    DCB m_Dcb{};       // the last DCB given to SetCommState (valid when m_DcbSet)
    bool m_DcbSet = false;
    COMMTIMEOUTS m_Timeouts{}; // all 0 at open: no time-outs, as Windows' driver starts
    DWORD m_InQueue = 4096;    // what Wine reports before SetupComm; SetupComm replaces them
    DWORD m_OutQueue = 4096;
};

// Opens the tty mapped to the COM name (LinuxBackend.h) for the access asked (GENERIC_READ /
// GENERIC_WRITE), in raw mode, held exclusively against every other opener. INVALID_HANDLE_VALUE and the
// last error on failure: 2 for a name that is no COM port, an unmapped number or a missing device; 5 for a
// port held elsewhere or for the kernel's console; 50 for a device that is no terminal; 87 for a
// disposition other than OPEN_EXISTING.
HANDLE OpenComPort(LPCWSTR name, DWORD access, DWORD disposition);
// Releases the exclusive hold and closes the descriptor. FALSE with 6 for a handle that is not open here.
BOOL CloseComPort(HANDLE handle);
// The port of a handle, or null for a handle this backend did not give out (or has closed).
std::shared_ptr<CComPort> FindComPort(HANDLE handle);

// Binary mode, as Windows' serial driver always is (ComSettings.cpp): no line editing, echo, signals or
// character translation; receiver on, modem lines ignored for I/O (CLOCAL|CREAD); no XON/XOFF. Rate and
// frame stay.
void MakeRawTermios(termios* tio);
// Fills the whole DCB (DCBlength = sizeof(DCB), as Windows does): rate, frame and flow from termios; the
// DTR and RTS control of the last SetCommState, or from the lines themselves (TIOCMGET) before the first;
// the fields termios cannot hold from the last SetCommState.
BOOL GetComState(CComPort& port, DCB* dcb);
// Applies rate, frame, raw mode and CTS flow through termios, then drives DTR and RTS by fDtrControl and
// fRtsControl. A value the line cannot take fails with ERROR_INVALID_PARAMETER and changes nothing. A
// pseudo-terminal has no modem lines: their ioctls' ENOTTY/EINVAL are ignored and the DCB is still kept.
BOOL SetComState(CComPort& port, const DCB& dcb);
// MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON from TIOCMGET. A line without modem lines (a pty) gives
// FALSE with ERROR_NOT_SUPPORTED and a status of 0, as Wine does.
BOOL GetComModemStatus(CComPort& port, DWORD* status);
// GetCommProperties' record: an RS-232 provider (also for a pseudo-terminal), the rates termios can set,
// 5 to 8 data bits, all parities and stop bits, and the current queue sizes.
void FillCommProperties(DWORD inQueue, DWORD outQueue, COMMPROP* properties);

// ReadFile and WriteFile on the non-blocking descriptor, timed by COMMTIMEOUTS as Windows documents them
// (ComTimedIo.cpp). Each returns 0, or the errno of a failure; *done counts the bytes moved, also before a
// failure. A time-out is no failure: the call ends with what it has.
int TimedRead(int fd, unsigned char* buffer, DWORD count, const COMMTIMEOUTS& timeouts, DWORD* done);
int TimedWrite(int fd, const unsigned char* buffer, DWORD count, const COMMTIMEOUTS& timeouts, DWORD* done);

// The thread's last error in Win32 codes (Errors.cpp), with the errno it came from, for the text.

// A failure with no errno behind it (a bad argument, an unmapped COM number).
void SetLastErrorCode(DWORD code);
// A failure of a system call: the Win32 code of the errno, and the errno kept for the text.
void SetLastErrorFromErrno(int error);
// A failure of a system call reported under a code of the caller's choosing (TIOCMGET on a pty -> 50).
void SetLastErrorFromErrno(int error, DWORD code);
DWORD LastErrorCode();
// strerror of the saved errno when the code is the thread's last error and came from an errno; else the
// English text Windows gives the code.
std::string ErrorText(DWORD code);

// Milliseconds of CLOCK_MONOTONIC (Clock.cpp): it never jumps with the wall clock, so deadlines and tick
// counts hold.
uint64_t MonotonicMilliseconds();
// Win32's Sleep: the whole time, even when a signal interrupts it, and waking close to the deadline. 0
// yields the processor, as Sleep(0) does.
void SleepMilliseconds(uint32_t milliseconds);

// The processor's own port-I/O instructions: ioperm and in/out on x86 (PortInstructionsX86.cpp), none
// elsewhere (PortInstructionsNone.cpp). The build picks the file for the target processor.

// Whether this build has them; when false, the three below are never called.
bool PortInstructionsBuilt();
// ioperm(2): 0 on success, -1 on failure (errno set).
int SystemIoperm(unsigned long from, unsigned long count, int turnOn);
// Only for ports that ioperm granted to the calling thread.
unsigned char InByte(unsigned short port);
void OutByte(unsigned short port, unsigned char value);

} // namespace tarnos
