// The Win32 types and constants that the module and the backends use; types and constants only, no calls.
// On Windows they come from the real <windows.h>; elsewhere this header gives the same names with the
// same sizes and layouts (DCB 28 bytes, COMMTIMEOUTS 20, COMMPROP 64), so the module compiles unchanged.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cstddef>
#include <cstdint>

typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int BOOL;
typedef char CHAR;
typedef wchar_t WCHAR;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef intptr_t LONG_PTR;
struct _OVERLAPPED;
typedef struct _OVERLAPPED* LPOVERLAPPED;
struct _SECURITY_ATTRIBUTES;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define MAXDWORD 0xffffffffu

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_BAD_COMMAND 22
#define ERROR_GEN_FAILURE 31
#define ERROR_SHARING_VIOLATION 32
#define ERROR_NOT_SUPPORTED 50
#define ERROR_INVALID_PARAMETER 87
#define ERROR_SEM_TIMEOUT 121
#define ERROR_DEVICE_NOT_CONNECTED 1167
#define ERROR_COUNTER_TIMEOUT 1121

typedef struct _DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
} DCB, *LPDCB;

typedef struct _COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct _COMMPROP {
    WORD wPacketLength;
    WORD wPacketVersion;
    DWORD dwServiceMask;
    DWORD dwReserved1;
    DWORD dwMaxTxQueue;
    DWORD dwMaxRxQueue;
    DWORD dwMaxBaud;
    DWORD dwProvSubType;
    DWORD dwProvCapabilities;
    DWORD dwSettableParams;
    DWORD dwSettableBaud;
    WORD wSettableData;
    WORD wSettableStopParity;
    DWORD dwCurrentTxQueue;
    DWORD dwCurrentRxQueue;
    DWORD dwProvSpec1;
    DWORD dwProvSpec2;
    uint16_t wcProvChar[2]; // WCHAR[1] on Windows (2 bytes) plus the padding that makes 64
} COMMPROP, *LPCOMMPROP;

#define DTR_CONTROL_DISABLE 0x00
#define DTR_CONTROL_ENABLE 0x01
#define DTR_CONTROL_HANDSHAKE 0x02
#define RTS_CONTROL_DISABLE 0x00
#define RTS_CONTROL_ENABLE 0x01
#define RTS_CONTROL_HANDSHAKE 0x02
#define RTS_CONTROL_TOGGLE 0x03

#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2

#define MS_CTS_ON 0x0010u
#define MS_DSR_ON 0x0020u
#define MS_RING_ON 0x0040u
#define MS_RLSD_ON 0x0080u

#define PST_UNSPECIFIED 0x00000000u
#define PST_RS232 0x00000001u
#define PST_PARALLELPORT 0x00000002u
#define PST_RS422 0x00000003u
#define PST_RS423 0x00000004u
#define PST_RS449 0x00000005u
#define PST_MODEM 0x00000006u
#define PST_FAX 0x00000021u
#define PST_SCANNER 0x00000022u
#define PST_NETWORK_BRIDGE 0x00000100u
#define PST_LAT 0x00000101u
#define PST_TCPIP_TELNET 0x00000102u
#define PST_X25 0x00000103u

#define SP_SERIALCOMM 0x00000001u

#define BAUD_075 0x00000001u
#define BAUD_110 0x00000002u
#define BAUD_134_5 0x00000004u
#define BAUD_150 0x00000008u
#define BAUD_300 0x00000010u
#define BAUD_600 0x00000020u
#define BAUD_1200 0x00000040u
#define BAUD_1800 0x00000080u
#define BAUD_2400 0x00000100u
#define BAUD_4800 0x00000200u
#define BAUD_7200 0x00000400u
#define BAUD_9600 0x00000800u
#define BAUD_14400 0x00001000u
#define BAUD_19200 0x00002000u
#define BAUD_38400 0x00004000u
#define BAUD_56K 0x00008000u
#define BAUD_128K 0x00010000u
#define BAUD_115200 0x00020000u
#define BAUD_57600 0x00040000u
#define BAUD_USER 0x10000000u

#define PCF_DTRDSR 0x0001u
#define PCF_RTSCTS 0x0002u
#define PCF_TOTALTIMEOUTS 0x0040u
#define PCF_INTTIMEOUTS 0x0080u

#define SP_PARITY 0x0001u
#define SP_BAUD 0x0002u
#define SP_DATABITS 0x0004u
#define SP_STOPBITS 0x0008u
#define SP_HANDSHAKING 0x0010u

#define DATABITS_5 0x0001u
#define DATABITS_6 0x0002u
#define DATABITS_7 0x0004u
#define DATABITS_8 0x0008u
#define STOPBITS_10 0x0001u
#define STOPBITS_15 0x0002u
#define STOPBITS_20 0x0004u
#define PARITY_NONE 0x0100u
#define PARITY_ODD 0x0200u
#define PARITY_EVEN 0x0400u
#define PARITY_MARK 0x0800u
#define PARITY_SPACE 0x1000u

static_assert(sizeof(DCB) == 28, "DCB must have the Win32 layout");
static_assert(sizeof(COMMTIMEOUTS) == 20, "COMMTIMEOUTS must have the Win32 layout");
static_assert(sizeof(COMMPROP) == 64, "COMMPROP must have the Win32 layout");
#endif
