// The module's view of the operating system: the Win32 types of <windows.h> and the calls of Part 4.2 under
// their own names, routed through the platform seam so that a backend chosen at run time answers them
// (the real kernel32, the Linux termios layer, or the simulator). Include this last.
#pragma once

#include "os/OsSeam.h"
#include "os/Win32Types.h"

#undef CreateFile
#define CreateFileW tarnos::CreateFileW
#define CloseHandle tarnos::CloseHandle
#define GetCommState tarnos::GetCommState
#define SetCommState tarnos::SetCommState
#define BuildCommDCBW tarnos::BuildCommDCBW
#define SetupComm tarnos::SetupComm
#define SetCommTimeouts tarnos::SetCommTimeouts
#define ReadFile tarnos::ReadFile
#define WriteFile tarnos::WriteFile
#define GetCommModemStatus tarnos::GetCommModemStatus
#define GetCommProperties tarnos::GetCommProperties
#define GetLastError tarnos::GetLastError
#define Sleep tarnos::Sleep
#define GetTickCount tarnos::GetTickCount
#define wsprintfW tarnos::wsprintfW
