/* Stand-in for the Windows SDK's windows.h, which this Linux host does not
 * have: MinGW-w64's headers do not compile for the *-pc-windows-msvc target.
 * It declares, with the SDK's names and layouts, only what qorinhid.h and the
 * client use, so that the shipped header itself is what the client compiles
 * against. */
#ifndef KELVO_MSVC_SDK_WINDOWS_H
#define KELVO_MSVC_SDK_WINDOWS_H

#define WINAPI __stdcall
#define NULL ((void *)0)

typedef int BOOL;
typedef unsigned char BOOLEAN;
typedef unsigned short USHORT;
typedef unsigned long DWORD;
typedef void *HANDLE;
typedef struct HWND__ *HWND;
typedef void *HDEVNOTIFY;
typedef struct _GUID {
    unsigned long Data1;
    unsigned short Data2;
    unsigned short Data3;
    unsigned char Data4[8];
} GUID;

#define INVALID_HANDLE_VALUE ((HANDLE)(__int64)-1)
#define STD_OUTPUT_HANDLE ((DWORD)-11)

__declspec(dllimport) HANDLE WINAPI GetStdHandle(DWORD nStdHandle);
__declspec(dllimport) BOOL WINAPI
    WriteFile(HANDLE hFile, const void *lpBuffer, DWORD nNumberOfBytesToWrite,
              DWORD *lpNumberOfBytesWritten, void *lpOverlapped);
__declspec(dllimport) BOOL WINAPI CloseHandle(HANDLE hObject);
__declspec(dllimport) __declspec(noreturn) void WINAPI ExitProcess(unsigned int uExitCode);

#endif
