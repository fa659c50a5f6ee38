// The device search: walks the present HID interfaces and hands the caller a
// read and a write handle to the first one with the wanted ids that opens
// both ways.
#include "hid_platform.h"

#include "common/unique_handle.h"
#include "qorinhid.h"

#include <cstddef>
#include <cstring>
#include <cwchar>

namespace qorinhid {
namespace {

// The fixed part of the detail record: cbSize and one UTF-16 unit (6 bytes on
// 32-bit Windows, 8 on 64-bit).
constexpr DWORD kDetailFixedSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
#if !defined(_WIN64)
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "32-bit interface record");
static_assert(kDetailFixedSize == 6, "32-bit detail record");
#endif
static_assert(sizeof(HIDD_ATTRIBUTES) == 12, "attributes record");

class DetailRecord {
public:
    DetailRecord(HidPlatform& platform, void* block) : platform_(platform), block_(block) {}
    DetailRecord(const DetailRecord&) = delete;
    DetailRecord& operator=(const DetailRecord&) = delete;
    ~DetailRecord() {
        if (block_) {
            platform_.Free(block_);
        }
    }
    SP_DEVICE_INTERFACE_DETAIL_DATA_W* get() const {
        return static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block_);
    }

private:
    HidPlatform& platform_;
    void* block_;
};

// The path must be a non-empty string that ends inside the record: a record
// that the filling call left short is passed over, never opened.
bool HoldsUsablePath(const SP_DEVICE_INTERFACE_DETAIL_DATA_W& detail, DWORD Qorin_Length) {
    const std::size_t pathBytes =
        Qorin_Length - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    const std::size_t pathUnits = pathBytes / sizeof(WCHAR);
    return pathUnits > 1 && detail.DevicePath[0] != L'\0' &&
           std::wmemchr(detail.DevicePath, L'\0', pathUnits) != nullptr;
}

bool HasIds(HidPlatform& platform, const wchar_t* path, USHORT ProductID, USHORT VendorID) {
    HANDLE probe = platform.OpenDevice(path, 0);
    if (probe == INVALID_HANDLE_VALUE) {
        return false;
    }
    HIDD_ATTRIBUTES Attributes = {};
    Attributes.Size = sizeof(Attributes);
    const bool read = platform.GetAttributes(probe, &Attributes) != FALSE;
    platform.CloseDevice(probe);
    return read && Attributes.VendorID == VendorID && Attributes.ProductID == ProductID;
}

// A device handle from the platform, closed through it.
struct DeviceHandleTraits {
    using pointer = HANDLE;
    HidPlatform* platform = nullptr;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    void close(pointer h) const noexcept { platform->CloseDevice(h); }
};
using DeviceHandle = kelvo::UniqueHandle<DeviceHandleTraits>;

// Stores what each open yields in the caller's variables, as the contract of
// the out-parameters asks; the handles pass to the caller only when both
// opened, so that a failed search leaves nothing open. The caller's last
// error is that of the open that failed, not of the clean-up after it.
bool OpenBothWays(HidPlatform& platform, const wchar_t* path, HANDLE* pReadHandle,
                  HANDLE* pWriteHandle) {
    DeviceHandle readHandle(platform.OpenDevice(path, GENERIC_READ), {&platform});
    *pReadHandle = readHandle.get();
    if (!readHandle) {
        return false;
    }
    DeviceHandle writeHandle(platform.OpenDevice(path, GENERIC_WRITE), {&platform});
    *pWriteHandle = writeHandle.get();
    if (writeHandle) {
        readHandle.release();
        writeHandle.release();
        return true;
    }
    const DWORD error = ::GetLastError();
    readHandle.reset();
    *pReadHandle = INVALID_HANDLE_VALUE;
    ::SetLastError(error);
    return false;
}

struct Search {
    HidPlatform& platform;
    HWND hWnd;
    HANDLE* pReadHandle;
    HANDLE* pWriteHandle;
    USHORT ProductID;
    USHORT VendorID;
    GUID Qorin_HidGuid;
    HDEVINFO deviceSet;
};

// One interface of the set: true when it matched and opened both ways.
bool ExamineInterface(Search& search, SP_DEVICE_INTERFACE_DATA& devInfoData) {
    HidPlatform& platform = search.platform;
    DWORD Qorin_Length = 0;
    // The sizing call fails by design (no buffer); only the size counts.
    platform.GetInterfaceDetail(search.deviceSet, &devInfoData, nullptr, 0, &Qorin_Length);
    if (Qorin_Length < kDetailFixedSize) {
        return false;
    }
    DetailRecord detail(platform, platform.Allocate(Qorin_Length));
    if (!detail.get()) {
        return false;
    }
    std::memset(detail.get(), 0, Qorin_Length);
    detail.get()->cbSize = kDetailFixedSize;
    DWORD Qorin_Required = 0;
    if (!platform.GetInterfaceDetail(search.deviceSet, &devInfoData, detail.get(), Qorin_Length,
                                     &Qorin_Required) ||
        !HoldsUsablePath(*detail.get(), Qorin_Length)) {
        return false;
    }
    const wchar_t* path = detail.get()->DevicePath;
    if (!HasIds(platform, path, search.ProductID, search.VendorID)) {
        return false;
    }
    // Made for every matching interface, before its opens; neither tested
    // nor kept, the window owns the registration from here on.
    platform.RegisterNotifications(&search.Qorin_HidGuid, search.hWnd);
    return OpenBothWays(platform, path, search.pReadHandle, search.pWriteHandle);
}

}  // namespace

bool FindHidDevice(HidPlatform& platform, HWND hWnd, HANDLE* pReadHandle, HANDLE* pWriteHandle,
                   USHORT ProductID, USHORT VendorID) {
    if (!pReadHandle || !pWriteHandle) {
        return false;
    }
    Search search{platform, hWnd, pReadHandle, pWriteHandle, ProductID, VendorID, {}, nullptr};
    platform.GetHidGuid(&search.Qorin_HidGuid);
    search.deviceSet =
        platform.GetClassDevs(search.Qorin_HidGuid, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (search.deviceSet == INVALID_HANDLE_VALUE) {
        return false;
    }
    auto destroySet = kelvo::scope_exit([&] { platform.DestroyDeviceSet(search.deviceSet); });

    SP_DEVICE_INTERFACE_DATA devInfoData = {};
    devInfoData.cbSize = sizeof(devInfoData);
    bool found = false;
    bool endOfList = false;
    DWORD memberIndex = 0;
    do {
        // Any failed step ends the search, not only ERROR_NO_MORE_ITEMS.
        if (!platform.EnumInterface(search.deviceSet, search.Qorin_HidGuid, memberIndex,
                                    &devInfoData)) {
            endOfList = true;
        } else {
            found = ExamineInterface(search, devInfoData);
        }
        ++memberIndex;
    } while (!endOfList && !found);
    return found;
}

}  // namespace qorinhid

extern "C" bool __cdecl Qorin_UsbFindHIDDev(HWND hWnd, HANDLE* pReadHandle, HANDLE* pWriteHandle,
                                            USHORT ProductID, USHORT VendorID) {
    return qorinhid::FindHidDevice(qorinhid::RealHidPlatform(), hWnd, pReadHandle, pWriteHandle,
                                   ProductID, VendorID);
}
