// A simulated set of HID interfaces under the device search, recording what
// the search does with it: opens and closes, registrations, allocations, and
// the records it passes to each call.
#pragma once

#include "hid_platform.h"

#include <map>
#include <string>
#include <vector>

namespace hidtest {

constexpr DWORD kRealSize = 0xFFFFFFFF;

struct FakeInterface {
    std::wstring path;
    USHORT vendor = 0;
    USHORT product = 0;
    bool probeOpens = true;
    bool attributesReadable = true;
    bool readOpens = true;
    bool writeOpens = true;
    DWORD sizingResult = kRealSize;  // what the sizing call reports
    bool fillFails = false;
    bool fillUnterminated = false;  // fill reports success, path without its NUL
};

struct OpenRecord {
    std::size_t interfaceIndex;
    DWORD access;
};

class FakeHidPlatform final : public qorinhid::HidPlatform {
public:
    // The class GUID the fake hands out; the search must use it everywhere.
    static const GUID kHidGuid;

    std::vector<FakeInterface> interfaces;
    bool deviceSetFails = false;
    std::size_t enumerationErrorAt = SIZE_MAX;  // fails with another error than end of list
    bool allocationFails = false;

    // What the search did.
    std::vector<OpenRecord> opens;
    std::map<HANDLE, OpenRecord> openHandles;
    std::vector<HANDLE> registeredWindows;
    std::vector<DWORD> enumeratedIndexes;
    int setsBuilt = 0;
    int setsDestroyed = 0;
    int liveAllocations = 0;
    std::vector<std::string> faults;  // misuse of the platform by the search

    // Opens of interface `index` with `access` (0, GENERIC_READ, GENERIC_WRITE).
    int OpenCount(std::size_t index, DWORD access) const;
    int OpenCountAnyAccess(std::size_t index) const;
    bool IsOpenHandle(HANDLE handle, std::size_t index, DWORD access) const;

    void GetHidGuid(GUID* guid) override;
    HDEVINFO GetClassDevs(const GUID& classGuid, DWORD flags) override;
    BOOL EnumInterface(HDEVINFO deviceSet, const GUID& classGuid, DWORD memberIndex,
                       SP_DEVICE_INTERFACE_DATA* interfaceData) override;
    BOOL GetInterfaceDetail(HDEVINFO deviceSet, SP_DEVICE_INTERFACE_DATA* interfaceData,
                            SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detailSize,
                            DWORD* requiredSize) override;
    void DestroyDeviceSet(HDEVINFO deviceSet) override;
    void* Allocate(std::size_t size) override;
    void Free(void* block) override;
    HANDLE OpenDevice(const wchar_t* path, DWORD access) override;
    BOOLEAN GetAttributes(HANDLE device, HIDD_ATTRIBUTES* attributes) override;
    void CloseDevice(HANDLE device) override;
    HDEVNOTIFY RegisterNotifications(GUID* classGuid, HANDLE recipient) override;

private:
    const FakeInterface* InterfaceOf(const SP_DEVICE_INTERFACE_DATA* interfaceData);
    std::size_t nextHandle_ = 0x1000;
    std::size_t nextRegistration_ = 0x5000;
};

}  // namespace hidtest
