// The platform calls of the device search, behind an interface so that tests
// can drive the search through simulated device sets. The exported finder
// uses RealHidPlatform().
#pragma once

#include <windows.h>
#include <setupapi.h>
#include "hid_sdk.h"

#include <cstddef>

namespace qorinhid {

class HidPlatform {
public:
    virtual void GetHidGuid(GUID* guid) = 0;
    virtual HDEVINFO GetClassDevs(const GUID& classGuid, DWORD flags) = 0;
    virtual BOOL EnumInterface(HDEVINFO deviceSet, const GUID& classGuid, DWORD memberIndex,
                               SP_DEVICE_INTERFACE_DATA* interfaceData) = 0;
    virtual BOOL GetInterfaceDetail(HDEVINFO deviceSet, SP_DEVICE_INTERFACE_DATA* interfaceData,
                                    SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detailSize,
                                    DWORD* requiredSize) = 0;
    virtual void DestroyDeviceSet(HDEVINFO deviceSet) = 0;
    virtual void* Allocate(std::size_t size) = 0;
    virtual void Free(void* block) = 0;
    virtual HANDLE OpenDevice(const wchar_t* path, DWORD access) = 0;
    virtual BOOLEAN GetAttributes(HANDLE device, HIDD_ATTRIBUTES* attributes) = 0;
    virtual void CloseDevice(HANDLE device) = 0;
    virtual HDEVNOTIFY RegisterNotifications(GUID* classGuid, HANDLE recipient) = 0;

protected:
    ~HidPlatform() = default;
};

HidPlatform& RealHidPlatform();

// The search behind Qorin_UsbFindHIDDev, on the given platform.
bool FindHidDevice(HidPlatform& platform, HWND hWnd, HANDLE* pReadHandle, HANDLE* pWriteHandle,
                   USHORT ProductID, USHORT VendorID);

}  // namespace qorinhid
