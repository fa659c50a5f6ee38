// Capabilities of an open HID device, and the device-change subscription of
// a window.
#include "qorinhid.h"

#include <dbt.h>
#include "hid_sdk.h"

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32, "notification filter record");
static_assert(sizeof(HIDP_CAPS) == 64, "capabilities record");

extern "C" HDEVNOTIFY __cdecl Qorin_UsbRegisterForDeviceNotifications(GUID* pClassGuid,
                                                                      HANDLE hRecipient) {
    if (!pClassGuid) {
        return nullptr;
    }
    DEV_BROADCAST_DEVICEINTERFACE_W DevBroadcastDeviceInterface = {};
    DevBroadcastDeviceInterface.dbcc_size = sizeof(DevBroadcastDeviceInterface);
    DevBroadcastDeviceInterface.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    DevBroadcastDeviceInterface.dbcc_classguid = *pClassGuid;
    return RegisterDeviceNotificationW(hRecipient, &DevBroadcastDeviceInterface,
                                       DEVICE_NOTIFY_WINDOW_HANDLE);
}

extern "C" BOOLEAN __cdecl Qorin_USBReadWriteInit(HANDLE* pDeviceHandle, HIDP_CAPS* pCaps) {
    if (!pDeviceHandle || !pCaps) {
        return FALSE;
    }
    PHIDP_PREPARSED_DATA PreparsedData = nullptr;
    // Without preparsed data there is nothing valid to read caps from or to
    // free; the caller's record stays as it was.
    if (!HidD_GetPreparsedData(*pDeviceHandle, &PreparsedData)) {
        return FALSE;
    }
    HidP_GetCaps(PreparsedData, pCaps);
    return HidD_FreePreparsedData(PreparsedData);
}
