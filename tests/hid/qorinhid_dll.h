// The seven exports of Qorinhid.dll, reached the way a host reaches them:
// LoadLibrary from the test's own folder and GetProcAddress by name.
#pragma once

#include <windows.h>

#include <string>

extern "C" {
#include <hidsdi.h>
}

namespace hidtest {

struct QorinhidDll {
    HMODULE module = nullptr;
    std::wstring path;
    bool(__cdecl* findHidDev)(HWND, HANDLE*, HANDLE*, USHORT, USHORT) = nullptr;
    // The same export seen with full 32-bit id slots, to pass bits above 15.
    bool(__cdecl* findHidDevWide)(HWND, HANDLE*, HANDLE*, unsigned int, unsigned int) = nullptr;
    BOOLEAN(__cdecl* readWriteInit)(HANDLE*, HIDP_CAPS*) = nullptr;
    HDEVNOTIFY(__cdecl* registerNotifications)(GUID*, HANDLE) = nullptr;
    HRESULT(__stdcall* dllCanUnloadNow)() = nullptr;
    HRESULT(__stdcall* dllGetClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(__stdcall* dllRegisterServer)() = nullptr;
    HRESULT(__stdcall* dllUnregisterServer)() = nullptr;
};

// Loaded once per process; fails the calling test when an export is missing.
const QorinhidDll& Qorinhid();

std::wstring ExeDirectory();

}  // namespace hidtest
