// For the module's .cpp files only, included last: its Win32 calls, under their own names, go to the
// platform seam (os/OsSeam.h) instead of the system, so that the backend installed at run time answers
// them (kernel32 itself, the Linux backend, or the simulator). No header may include this one: the macros
// would rename every later use of these names.
#pragma once

#include "os/OsSeam.h"
#include "os/Win32Types.h"

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
