// The real platform under the device search: SetupAPI, HID, CreateFileW and
// the C heap.
#include "hid_platform.h"

#include "qorinhid.h"

#include <cstdlib>

namespace qorinhid {
namespace {

class RealPlatform final : public HidPlatform {
public:
    void GetHidGuid(GUID* guid) override { HidD_GetHidGuid(guid); }

    HDEVINFO GetClassDevs(const GUID& classGuid, DWORD flags) override {
        return SetupDiGetClassDevsW(&classGuid, nullptr, nullptr, flags);
    }

    BOOL EnumInterface(HDEVINFO deviceSet, const GUID& classGuid, DWORD memberIndex,
                       SP_DEVICE_INTERFACE_DATA* interfaceData) override {
        return SetupDiEnumDeviceInterfaces(deviceSet, nullptr, &classGuid, memberIndex,
                                           interfaceData);
    }

    BOOL GetInterfaceDetail(HDEVINFO deviceSet, SP_DEVICE_INTERFACE_DATA* interfaceData,
                            SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detailSize,
                            DWORD* requiredSize) override {
        return SetupDiGetDeviceInterfaceDetailW(deviceSet, interfaceData, detail, detailSize,
                                                requiredSize, nullptr);
    }

    void DestroyDeviceSet(HDEVINFO deviceSet) override { SetupDiDestroyDeviceInfoList(deviceSet); }

    void* Allocate(std::size_t size) override { return std::malloc(size); }
    void Free(void* block) override { std::free(block); }

    HANDLE OpenDevice(const wchar_t* path, DWORD access) override {
        // No overlapped flag: the host reads and writes synchronously.
        return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    }

    BOOLEAN GetAttributes(HANDLE device, HIDD_ATTRIBUTES* attributes) override {
        return HidD_GetAttributes(device, attributes);
    }

    void CloseDevice(HANDLE device) override { CloseHandle(device); }

    HDEVNOTIFY RegisterNotifications(GUID* classGuid, HANDLE recipient) override {
        return Qorin_UsbRegisterForDeviceNotifications(classGuid, recipient);
    }
};

RealPlatform g_realPlatform;

}  // namespace

HidPlatform& RealHidPlatform() { return g_realPlatform; }

}  // namespace qorinhid
