// The library module: its application object, the DLL entry point and the
// four entry points of an in-process COM server that carries a type library
// and no classes.
#include "self_registration.h"

#include "qorinhid_idl.h"  // LIBID_Qorinhid, generated from qorinhid.idl

#include <objbase.h>

namespace {

// The one object standing for the loaded library. Without an application
// framework there is no module state to switch per call: the entry points
// read the module handle that was fixed when the library was attached.
class CQorinhidApp {
public:
    BOOL InitInstance(HINSTANCE hInstance) {
        instance_ = hInstance;
        // The module has no class factories to announce as running.
        return TRUE;
    }

    HINSTANCE InstanceHandle() const { return instance_; }

private:
    HINSTANCE instance_ = nullptr;
};

CQorinhidApp theApp;

constexpr WORD kTypeLibMajor = 1;
constexpr WORD kTypeLibMinor = 0;
constexpr LCID kTypeLibLcid = 0;

// The class-registration step of both directions: there are no classes, so
// there is nothing to write or remove.
bool UpdateClassRegistrations(bool /*registering*/) { return true; }

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        return theApp.InitInstance(hInstance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID /*rclsid*/, REFIID /*riid*/, LPVOID* ppv) {
    if (ppv) {
        *ppv = nullptr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

// No object of this module can exist and nothing takes a lock.
STDAPI DllCanUnloadNow(void) { return S_OK; }

STDAPI DllRegisterServer(void) {
    return qorinhid::RunSelfRegistration(
        [] { return qorinhid::RegisterModuleTypeLib(theApp.InstanceHandle(), LIBID_Qorinhid); },
        [] { return UpdateClassRegistrations(true); });
}

STDAPI DllUnregisterServer(void) {
    return qorinhid::RunSelfRegistration(
        [] {
            return qorinhid::UnregisterModuleTypeLib(LIBID_Qorinhid, kTypeLibMajor, kTypeLibMinor,
                                                     kTypeLibLcid);
        },
        [] { return UpdateClassRegistrations(false); });
}
