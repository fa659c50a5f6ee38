// The two steps of COM self-registration and their fixed order.
#pragma once

#include <windows.h>
#include <olectl.h>

namespace qorinhid {

// Type library first, classes second; a failed first step skips the second.
template <typename TypeLibStep, typename ClassStep>
HRESULT RunSelfRegistration(TypeLibStep typeLibStep, ClassStep classStep) {
    if (!typeLibStep()) {
        return SELFREG_E_TYPELIB;
    }
    if (!classStep()) {
        return SELFREG_E_CLASS;
    }
    return S_OK;
}

// Registers the TYPELIB resource 1 of `module` under the module's own path;
// refuses a type library whose LIBID is not `libid`.
bool RegisterModuleTypeLib(HMODULE module, const GUID& libid);

// Removes the registration of `libid` at that version and locale for the
// system kind this module is built for.
bool UnregisterModuleTypeLib(const GUID& libid, WORD major, WORD minor, LCID lcid);

}  // namespace qorinhid
