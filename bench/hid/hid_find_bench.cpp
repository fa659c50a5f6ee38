// Times finding and opening a HID device (then closing both handles) through
// Qorin_UsbFindHIDDev against the same job written directly with SetupAPI and
// HID calls, interleaved in one process.
//
//   hid_find_bench [ITERATIONS [PRODUCT VENDOR]]     defaults: 200 0x0001 0x845e
#include <windows.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include "qorinhid.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// The most direct way: the detail record in a fixed buffer filled by one
// call, the device opened for reading straight away and its attributes read
// through that handle, no probe handle and no notification registration.
bool DirectFindAndOpen(USHORT product, USHORT vendor, HANDLE& read, HANDLE& write) {
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set =
        SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return false;
    }
    union {
        SP_DEVICE_INTERFACE_DETAIL_DATA_W detail;
        unsigned char bytes[2048];
    } buffer;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    bool found = false;
    for (DWORD i = 0; !found && SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, i, &data);
         ++i) {
        buffer.detail.cbSize = sizeof(buffer.detail);
        if (!SetupDiGetDeviceInterfaceDetailW(set, &data, &buffer.detail, sizeof(buffer), nullptr,
                                              nullptr)) {
            continue;
        }
        const wchar_t* path = buffer.detail.DevicePath;
        HANDLE r = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (r == INVALID_HANDLE_VALUE) {
            continue;
        }
        HIDD_ATTRIBUTES attributes = {};
        attributes.Size = sizeof(attributes);
        if (HidD_GetAttributes(r, &attributes) && attributes.VendorID == vendor &&
            attributes.ProductID == product) {
            HANDLE w = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
            if (w != INVALID_HANDLE_VALUE) {
                read = r;
                write = w;
                found = true;
                continue;
            }
        }
        CloseHandle(r);
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

bool LibraryFindAndOpen(USHORT product, USHORT vendor, HANDLE& read, HANDLE& write) {
    // No window: registrations would pile up over the run (they are never
    // revoked) and a failed one costs next to nothing.
    return Qorin_UsbFindHIDDev(nullptr, &read, &write, product, vendor);
}

using Job = bool (*)(USHORT, USHORT, HANDLE&, HANDLE&);

double Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart);
}

// One timed round: find, open both ways, close both.
bool TimeOnce(Job job, USHORT product, USHORT vendor, std::vector<double>& samples) {
    HANDLE read = INVALID_HANDLE_VALUE;
    HANDLE write = INVALID_HANDLE_VALUE;
    const double start = Ticks();
    const bool found = job(product, vendor, read, write);
    if (found) {
        CloseHandle(read);
        CloseHandle(write);
    }
    samples.push_back(Ticks() - start);
    return found;
}

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double Sum(const std::vector<double>& samples) {
    double sum = 0;
    for (double sample : samples) {
        sum += sample;
    }
    return sum;
}

}  // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::atoi(argv[1]) : 200;
    const USHORT product =
        static_cast<USHORT>(argc > 3 ? std::strtoul(argv[2], nullptr, 0) : 0x0001);
    const USHORT vendor =
        static_cast<USHORT>(argc > 3 ? std::strtoul(argv[3], nullptr, 0) : 0x845e);
    if (iterations < 1) {
        std::fprintf(stderr, "usage: hid_find_bench [ITERATIONS [PRODUCT VENDOR]]\n");
        return 2;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const double microsecondsPerTick = 1e6 / static_cast<double>(frequency.QuadPart);

    std::vector<double> library;
    std::vector<double> direct;
    // Warm-up, not counted: the first calls load and set up the system DLLs.
    for (int i = 0; i < 5; ++i) {
        if (!TimeOnce(LibraryFindAndOpen, product, vendor, library) ||
            !TimeOnce(DirectFindAndOpen, product, vendor, direct)) {
            std::fprintf(stderr, "device product 0x%04x vendor 0x%04x not found\n", product,
                         vendor);
            return 1;
        }
    }
    library.clear();
    direct.clear();

    // Interleaved, the order swapped every round, so drift hits both alike.
    for (int i = 0; i < iterations; ++i) {
        const bool libraryFirst = (i % 2) == 0;
        bool ok = TimeOnce(libraryFirst ? LibraryFindAndOpen : DirectFindAndOpen, product, vendor,
                           libraryFirst ? library : direct);
        ok = TimeOnce(libraryFirst ? DirectFindAndOpen : LibraryFindAndOpen, product, vendor,
                      libraryFirst ? direct : library) &&
             ok;
        if (!ok) {
            std::fprintf(stderr, "round %d: device not found\n", i);
            return 1;
        }
    }

    const double libraryTotal = Sum(library) * microsecondsPerTick / 1000;
    const double directTotal = Sum(direct) * microsecondsPerTick / 1000;
    std::printf("find+open+close of product 0x%04x vendor 0x%04x, %d rounds each, interleaved\n",
                product, vendor, iterations);
    std::printf("Qorin_UsbFindHIDDev: total %.1f ms, mean %.1f us, median %.1f us\n", libraryTotal,
                libraryTotal * 1000 / iterations, Median(library) * microsecondsPerTick);
    std::printf("direct SetupAPI/HID: total %.1f ms, mean %.1f us, median %.1f us\n", directTotal,
                directTotal * 1000 / iterations, Median(direct) * microsecondsPerTick);
    std::printf("ratio library/direct: %.2f (total), %.2f (median)\n", libraryTotal / directTotal,
                Median(library) / Median(direct));
    return 0;
}
