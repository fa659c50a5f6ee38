/* Compile-time check that the public header is valid C and declares the
 * three functions with the exported signatures; built with incompatible
 * pointer types as errors, so a wrong declaration stops the build. */
#include "qorinhid.h"

#include <hidsdi.h>

_Static_assert(sizeof(bool) == 1, "the finder returns a one-byte bool");
_Static_assert(sizeof(BOOLEAN) == 1, "the capability query returns a one-byte BOOLEAN");

bool(__cdecl *const qorinhid_check_find)(HWND, HANDLE *, HANDLE *, USHORT,
                                         USHORT) = Qorin_UsbFindHIDDev;
BOOLEAN(__cdecl *const qorinhid_check_caps)(HANDLE *, HIDP_CAPS *) = Qorin_USBReadWriteInit;
HDEVNOTIFY(__cdecl *const qorinhid_check_register)
(GUID *, HANDLE) = Qorin_UsbRegisterForDeviceNotifications;
