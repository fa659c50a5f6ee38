// The simulated HID interface set of the search tests.
#include "fake_hid_platform.h"

#include <cstdlib>
#include <cstring>

namespace hidtest {
namespace {

const HDEVINFO kDeviceSet = reinterpret_cast<HDEVINFO>(static_cast<INT_PTR>(0x7700));

DWORD PathOffset() { return offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath); }

DWORD RealDetailSize(const FakeInterface& iface) {
    return PathOffset() + static_cast<DWORD>((iface.path.size() + 1) * sizeof(WCHAR));
}

}  // namespace

// Not the real HID class GUID, so a search that builds its own is caught.
const GUID FakeHidPlatform::kHidGuid = {
    0x1a2b3c4d, 0x5e6f, 0x7081, {0x92, 0xa3, 0xb4, 0xc5, 0xd6, 0xe7, 0xf8, 0x09}};

int FakeHidPlatform::OpenCount(std::size_t index, DWORD access) const {
    int count = 0;
    for (const OpenRecord& open : opens) {
        count += open.interfaceIndex == index && open.access == access;
    }
    return count;
}

int FakeHidPlatform::OpenCountAnyAccess(std::size_t index) const {
    int count = 0;
    for (const OpenRecord& open : opens) {
        count += open.interfaceIndex == index;
    }
    return count;
}

bool FakeHidPlatform::IsOpenHandle(HANDLE handle, std::size_t index, DWORD access) const {
    auto it = openHandles.find(handle);
    return it != openHandles.end() && it->second.interfaceIndex == index &&
           it->second.access == access;
}

void FakeHidPlatform::GetHidGuid(GUID* guid) { *guid = kHidGuid; }

HDEVINFO FakeHidPlatform::GetClassDevs(const GUID& classGuid, DWORD flags) {
    if (!IsEqualGUID(classGuid, kHidGuid)) {
        faults.push_back("device set built for another class");
    }
    if (flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {
        faults.push_back("device set flags " + std::to_string(flags));
    }
    if (deviceSetFails) {
        SetLastError(ERROR_INVALID_DATA);
        return INVALID_HANDLE_VALUE;
    }
    ++setsBuilt;
    return kDeviceSet;
}

BOOL FakeHidPlatform::EnumInterface(HDEVINFO deviceSet, const GUID& classGuid, DWORD memberIndex,
                                    SP_DEVICE_INTERFACE_DATA* interfaceData) {
    enumeratedIndexes.push_back(memberIndex);
    if (deviceSet != kDeviceSet) {
        faults.push_back("enumeration on a set that was not built");
    }
    if (!IsEqualGUID(classGuid, kHidGuid)) {
        faults.push_back("enumeration with another class");
    }
    if (interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        faults.push_back("interface record cbSize " + std::to_string(interfaceData->cbSize));
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (memberIndex == enumerationErrorAt) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (memberIndex >= interfaces.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    interfaceData->InterfaceClassGuid = kHidGuid;
    interfaceData->Flags = SPINT_ACTIVE;
    interfaceData->Reserved = memberIndex + 1;
    return TRUE;
}

const FakeInterface* FakeHidPlatform::InterfaceOf(const SP_DEVICE_INTERFACE_DATA* interfaceData) {
    const ULONG_PTR tag = interfaceData->Reserved;
    if (tag == 0 || tag > interfaces.size()) {
        faults.push_back("detail asked for an interface that was not enumerated");
        return nullptr;
    }
    return &interfaces[tag - 1];
}

BOOL FakeHidPlatform::GetInterfaceDetail(HDEVINFO deviceSet,
                                         SP_DEVICE_INTERFACE_DATA* interfaceData,
                                         SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail,
                                         DWORD detailSize, DWORD* requiredSize) {
    if (deviceSet != kDeviceSet) {
        faults.push_back("detail on a set that was not built");
    }
    const FakeInterface* iface = InterfaceOf(interfaceData);
    if (!iface) {
        return FALSE;
    }
    const DWORD realSize = RealDetailSize(*iface);
    if (!detail) {
        if (requiredSize) {
            *requiredSize = iface->sizingResult == kRealSize ? realSize : iface->sizingResult;
        }
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        faults.push_back("detail record cbSize " + std::to_string(detail->cbSize));
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (requiredSize) {
        *requiredSize = realSize;
    }
    if (iface->fillFails || detailSize < realSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* out = reinterpret_cast<unsigned char*>(detail->DevicePath);
    std::memcpy(out, iface->path.c_str(), (iface->path.size() + 1) * sizeof(WCHAR));
    if (iface->fillUnterminated) {
        // Every unit of the buffer carries a character: no terminator anywhere.
        const DWORD units = (detailSize - PathOffset()) / sizeof(WCHAR);
        for (DWORD i = static_cast<DWORD>(iface->path.size()); i < units; ++i) {
            detail->DevicePath[i] = L'X';
        }
    }
    return TRUE;
}

void FakeHidPlatform::DestroyDeviceSet(HDEVINFO deviceSet) {
    if (deviceSet != kDeviceSet) {
        faults.push_back("destroyed a set that was not built");
        return;
    }
    ++setsDestroyed;
}

void* FakeHidPlatform::Allocate(std::size_t size) {
    if (allocationFails) {
        return nullptr;
    }
    ++liveAllocations;
    return std::malloc(size);
}

void FakeHidPlatform::Free(void* block) {
    --liveAllocations;
    std::free(block);
}

HANDLE FakeHidPlatform::OpenDevice(const wchar_t* path, DWORD access) {
    for (std::size_t i = 0; i < interfaces.size(); ++i) {
        if (interfaces[i].path != path) {
            continue;
        }
        opens.push_back({i, access});
        const FakeInterface& iface = interfaces[i];
        bool opens = false;
        switch (access) {
        case 0:
            opens = iface.probeOpens;
            break;
        case GENERIC_READ:
            opens = iface.readOpens;
            break;
        case GENERIC_WRITE:
            opens = iface.writeOpens;
            break;
        default:
            faults.push_back("open with access " + std::to_string(access));
            break;
        }
        if (!opens) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        HANDLE handle = reinterpret_cast<HANDLE>(nextHandle_);
        nextHandle_ += 4;
        openHandles[handle] = {i, access};
        return handle;
    }
    faults.push_back("open of a path that no interface has");
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOLEAN FakeHidPlatform::GetAttributes(HANDLE device, HIDD_ATTRIBUTES* attributes) {
    auto it = openHandles.find(device);
    if (it == openHandles.end()) {
        faults.push_back("attributes read through a handle that is not open");
        return FALSE;
    }
    if (attributes->Size != sizeof(HIDD_ATTRIBUTES)) {
        faults.push_back("attributes Size " + std::to_string(attributes->Size));
        return FALSE;
    }
    const FakeInterface& iface = interfaces[it->second.interfaceIndex];
    if (!iface.attributesReadable) {
        return FALSE;  // leaves the record as it was, as a failing driver call does
    }
    attributes->VendorID = iface.vendor;
    attributes->ProductID = iface.product;
    attributes->VersionNumber = 0x0100;
    return TRUE;
}

void FakeHidPlatform::CloseDevice(HANDLE device) {
    if (openHandles.erase(device) == 0) {
        faults.push_back("close of a handle that is not open");
    }
}

HDEVNOTIFY FakeHidPlatform::RegisterNotifications(GUID* classGuid, HANDLE recipient) {
    if (!classGuid || !IsEqualGUID(*classGuid, kHidGuid)) {
        faults.push_back("registration for another class");
    }
    registeredWindows.push_back(recipient);
    nextRegistration_ += 8;
    return reinterpret_cast<HDEVNOTIFY>(nextRegistration_);
}

}  // namespace hidtest
