/* Qorinhid.dll: finds a USB HID device by product and vendor id and opens it
 * for reading and for writing, reports its HID capabilities and subscribes a
 * window to device-change notifications.
 *
 * Link with the import library (libQorinhid.dll.a for MinGW, Qorinhid.lib
 * for MSVC). All three functions use the C calling convention. */
#ifndef QORINHID_H
#define QORINHID_H

#include <windows.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Declared as the SDK and MinGW both tag it, so that this header does not
 * need hidpi.h: include <hidpi.h> (or <hidsdi.h>) to read the fields. */
struct _HIDP_CAPS;

/* Finds the first present HID interface whose ids match and that opens both
 * ways. Note the order: product id first, then vendor id. On true, the caller
 * owns both handles and closes them with CloseHandle. On false nothing is left
 * open; the out-parameters are unchanged when no device matched and may hold
 * INVALID_HANDLE_VALUE when a matching device did not open. hWnd is
 * registered for HID device-change notifications on every match. */
bool __cdecl Qorin_UsbFindHIDDev(HWND hWnd, HANDLE* pReadHandle, HANDLE* pWriteHandle,
                                 USHORT ProductID, USHORT VendorID);

/* Fills *pCaps with the capabilities of the device open as *pDeviceHandle.
 * FALSE (and *pCaps unchanged) when the device's HID data cannot be had. */
BOOLEAN __cdecl Qorin_USBReadWriteInit(HANDLE* pDeviceHandle, struct _HIDP_CAPS* pCaps);

/* Subscribes hRecipient (a window) to WM_DEVICECHANGE for the device-interface
 * class *pClassGuid. Every call adds a registration; NULL on failure. */
HDEVNOTIFY __cdecl Qorin_UsbRegisterForDeviceNotifications(GUID* pClassGuid, HANDLE hRecipient);

#ifdef __cplusplus
}
#endif

#endif /* QORINHID_H */
