// hidprobe: lists the present HID interfaces, then opens one by product and
// vendor id through Qorinhid.dll and prints its capabilities.
//
//   hidprobe                          list only
//   hidprobe PRODUCT VENDOR [--watch SECONDS]
//
// Ids are numbers in C notation (0x0001, 0x845e). --watch keeps the window
// alive and prints the HID arrivals and removals it is told about.
#include <windows.h>
#include <dbt.h>
#include <setupapi.h>

// MinGW-w64's HID headers declare no C linkage of their own.
extern "C" {
#include <hidsdi.h>
}

#include "qorinhid.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void PrintInterface(const wchar_t* path) {
    HANDLE device = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        std::printf("  (cannot open, error %lu) %ls\n", GetLastError(), path);
        return;
    }
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof(attributes);
    HIDP_CAPS caps = {};
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    const bool haveIds = HidD_GetAttributes(device, &attributes);
    const bool haveCaps = HidD_GetPreparsedData(device, &preparsed);
    if (haveCaps) {
        HidP_GetCaps(preparsed, &caps);
        HidD_FreePreparsedData(preparsed);
    }
    CloseHandle(device);
    if (!haveIds) {
        std::printf("  (no attributes) %ls\n", path);
        return;
    }
    std::printf("  vendor 0x%04x product 0x%04x", attributes.VendorID, attributes.ProductID);
    if (haveCaps) {
        std::printf(" usage page 0x%04x usage 0x%04x", caps.UsagePage, caps.Usage);
    }
    std::printf("  %ls\n", path);
}

void ListInterfaces() {
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set =
        SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        std::printf("no HID device set (error %lu)\n", GetLastError());
        return;
    }
    std::printf("HID interfaces:\n");
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, i, &data); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
            continue;
        }
        std::vector<unsigned char> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(*detail);
        if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr)) {
            PrintInterface(detail->DevicePath);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE &&
        (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (header && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            const auto* iface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
            std::printf("%s %ls\n",
                        wParam == DBT_DEVICEARRIVAL ? "arrived:" : "removed:", iface->dbcc_name);
            std::fflush(stdout);
        }
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A message-only window is enough to receive registered notifications.
HWND CreateNotificationWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"hidprobe";
    if (!RegisterClassW(&windowClass)) {
        return nullptr;
    }
    return CreateWindowExW(0, windowClass.lpszClassName, L"hidprobe", 0, 0, 0, 0, 0, HWND_MESSAGE,
                           nullptr, windowClass.hInstance, nullptr);
}

void PumpFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) {
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
}

bool ParseId(const char* text, USHORT& id) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (end == text || *end != '\0' || value > 0xFFFF) {
        return false;
    }
    id = static_cast<USHORT>(value);
    return true;
}

int Usage() {
    std::fprintf(stderr, "usage: hidprobe [PRODUCT_ID VENDOR_ID [--watch SECONDS]]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    USHORT productId = 0;
    USHORT vendorId = 0;
    unsigned long watchSeconds = 0;
    if (argc != 1 && argc != 3 && argc != 5) {
        return Usage();
    }
    if (argc >= 3 && (!ParseId(argv[1], productId) || !ParseId(argv[2], vendorId))) {
        return Usage();
    }
    if (argc == 5) {
        if (std::strcmp(argv[3], "--watch") != 0) {
            return Usage();
        }
        watchSeconds = std::strtoul(argv[4], nullptr, 10);
    }

    ListInterfaces();
    if (argc == 1) {
        return 0;
    }

    HWND window = CreateNotificationWindow();
    if (!window) {
        std::printf("no notification window (error %lu); continuing without one\n", GetLastError());
    }
    HANDLE readHandle = INVALID_HANDLE_VALUE;
    HANDLE writeHandle = INVALID_HANDLE_VALUE;
    if (!Qorin_UsbFindHIDDev(window, &readHandle, &writeHandle, productId, vendorId)) {
        std::printf("device product 0x%04x vendor 0x%04x: not found or not openable\n", productId,
                    vendorId);
        if (window) {
            DestroyWindow(window);
        }
        return 1;
    }
    std::printf("device product 0x%04x vendor 0x%04x: opened for reading and writing\n", productId,
                vendorId);

    HIDP_CAPS caps = {};
    if (Qorin_USBReadWriteInit(&readHandle, &caps)) {
        std::printf("usage page 0x%04x usage 0x%04x\n", caps.UsagePage, caps.Usage);
        std::printf("input report length %u\n", caps.InputReportByteLength);
        std::printf("output report length %u\n", caps.OutputReportByteLength);
        std::printf("feature report length %u\n", caps.FeatureReportByteLength);
    } else {
        std::printf("capabilities not available\n");
    }
    std::fflush(stdout);

    if (watchSeconds > 0 && window) {
        std::printf("watching HID arrivals and removals for %lu s\n", watchSeconds);
        std::fflush(stdout);
        PumpFor(watchSeconds * 1000);
    }
    CloseHandle(readHandle);
    CloseHandle(writeHandle);
    if (window) {
        DestroyWindow(window);
    }
    return 0;
}
