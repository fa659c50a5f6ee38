// Registration of the module's own type library resource.
#include "self_registration.h"

#include "common/unique_handle.h"

#include <oleauto.h>

#include <string>

namespace qorinhid {
namespace {

// SYS_WIN32 for the shipped 32-bit DLL; the 64-bit test build registers as
// win64, which is where a 64-bit process registers and looks.
#if defined(_WIN64)
constexpr SYSKIND kModuleSysKind = SYS_WIN64;
#else
constexpr SYSKIND kModuleSysKind = SYS_WIN32;
#endif

bool ModulePath(HMODULE module, std::wstring& path) {
    path.resize(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) {
            return false;
        }
        // A full buffer means the path may have been cut short.
        if (length < path.size()) {
            path.resize(length);
            return true;
        }
        if (path.size() >= 32768) {
            return false;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

bool RegisterModuleTypeLib(HMODULE module, const GUID& libid) {
    std::wstring path;
    if (!ModulePath(module, path)) {
        return false;
    }
    ITypeLib* typeLib = nullptr;
    // REGKIND_NONE: registration happens below, once the LIBID is checked.
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &typeLib))) {
        return false;
    }
    auto releaseTypeLib = kelvo::scope_exit([&] { typeLib->Release(); });

    TLIBATTR* attributes = nullptr;
    if (FAILED(typeLib->GetLibAttr(&attributes))) {
        return false;
    }
    const bool ours = IsEqualGUID(attributes->guid, libid) != FALSE;
    typeLib->ReleaseTLibAttr(attributes);
    if (!ours) {
        return false;
    }
    return SUCCEEDED(RegisterTypeLib(typeLib, &path[0], nullptr));
}

bool UnregisterModuleTypeLib(const GUID& libid, WORD major, WORD minor, LCID lcid) {
    return SUCCEEDED(UnRegisterTypeLib(libid, major, minor, lcid, kModuleSysKind));
}

}  // namespace qorinhid
