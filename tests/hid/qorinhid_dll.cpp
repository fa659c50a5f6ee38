// Loads Qorinhid.dll from beside the test executable.
#include "qorinhid_dll.h"

#include <gtest/gtest.h>

namespace hidtest {
namespace {

template <typename F>
void Bind(HMODULE module, const char* name, F& target) {
    target = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    EXPECT_NE(reinterpret_cast<void*>(target), nullptr) << "export missing: " << name;
}

QorinhidDll Load() {
    QorinhidDll dll;
    dll.path = ExeDirectory() + L"\\Qorinhid.dll";
    dll.module = LoadLibraryW(dll.path.c_str());
    EXPECT_NE(dll.module, nullptr) << "LoadLibrary error " << GetLastError();
    if (!dll.module) {
        return dll;
    }
    Bind(dll.module, "Qorin_UsbFindHIDDev", dll.findHidDev);
    Bind(dll.module, "Qorin_UsbFindHIDDev", dll.findHidDevWide);
    Bind(dll.module, "Qorin_USBReadWriteInit", dll.readWriteInit);
    Bind(dll.module, "Qorin_UsbRegisterForDeviceNotifications", dll.registerNotifications);
    Bind(dll.module, "DllCanUnloadNow", dll.dllCanUnloadNow);
    Bind(dll.module, "DllGetClassObject", dll.dllGetClassObject);
    Bind(dll.module, "DllRegisterServer", dll.dllRegisterServer);
    Bind(dll.module, "DllUnregisterServer", dll.dllUnregisterServer);
    return dll;
}

}  // namespace

std::wstring ExeDirectory() {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path(buffer, length);
    return path.substr(0, path.find_last_of(L'\\'));
}

const QorinhidDll& Qorinhid() {
    static const QorinhidDll dll = Load();
    if (!dll.module) {
        ADD_FAILURE() << "Qorinhid.dll not loaded";
    }
    return dll;
}

}  // namespace hidtest
