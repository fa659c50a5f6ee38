// Qorinhid.dll against the HID stack of the Wine prefix: its two virtual
// devices, vendor 0x845e, product 0x0001 (mouse) and 0x0002 (keyboard).
#include "qorinhid_dll.h"

#include <winternl.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace hidtest {
namespace {

constexpr USHORT kVendor = 0x845e;
const HANDLE kCallerRead = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0xBAD1));
const HANDLE kCallerWrite = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0xBAD2));

struct VirtualDevice {
    const char* name;
    USHORT product;
    USHORT usagePage;
    USHORT usage;
    USHORT inputLength;  // report-id byte included
};

const VirtualDevice kDevices[] = {
    {"mouse", 0x0001, 0x0001, 0x0002, 2},
    {"keyboard", 0x0002, 0x0001, 0x0006, 14},
};

std::pair<USHORT, USHORT> VendorAndProduct(HANDLE device) {
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof(attributes);
    if (!HidD_GetAttributes(device, &attributes)) {
        return {0, 0};
    }
    return {attributes.VendorID, attributes.ProductID};
}

ACCESS_MASK GrantedAccess(HANDLE handle) {
    PUBLIC_OBJECT_BASIC_INFORMATION info = {};
    const NTSTATUS status =
        NtQueryObject(handle, ObjectBasicInformation, &info, sizeof(info), nullptr);
    EXPECT_EQ(status, 0) << "NtQueryObject";
    return info.GrantedAccess;
}

// The capabilities read the plain way, to hold the library's answer against.
bool DirectCaps(HANDLE device, HIDP_CAPS& caps) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(device, &preparsed)) {
        return false;
    }
    const bool ok = HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    HidD_FreePreparsedData(preparsed);
    return ok;
}

// Wine answers 0 from GetProcessHandleCount, so count the values it accepts.
int CountValidHandles() {
    int count = 0;
    for (UINT_PTR value = 4; value < 0x20000; value += 4) {
        DWORD flags = 0;
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    }
    return count;
}

void CloseBoth(HANDLE read, HANDLE write) {
    EXPECT_TRUE(CloseHandle(read));
    EXPECT_TRUE(CloseHandle(write));
}

TEST(VirtualDevices, PresentInThePrefix) {
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set =
        SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    std::vector<std::pair<USHORT, USHORT>> seen;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, i, &data); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
        std::vector<unsigned char> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(*detail);
        ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr));
        HANDLE probe = CreateFileW(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe != INVALID_HANDLE_VALUE) {
            seen.push_back(VendorAndProduct(probe));
            CloseHandle(probe);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    for (const VirtualDevice& device : kDevices) {
        EXPECT_NE(std::find(seen.begin(), seen.end(), std::make_pair(kVendor, device.product)),
                  seen.end())
            << device.name << " missing; the rest of this suite depends on it";
    }
}

class DeviceTest : public ::testing::TestWithParam<VirtualDevice> {};

TEST_P(DeviceTest, FoundWithProductFourthAndVendorFifth) {
    const QorinhidDll& dll = Qorinhid();
    HANDLE read = kCallerRead;
    HANDLE write = kCallerWrite;
    ASSERT_TRUE(dll.findHidDev(nullptr, &read, &write, GetParam().product, kVendor));
    EXPECT_EQ(VendorAndProduct(read), std::make_pair(kVendor, GetParam().product));
    EXPECT_EQ(VendorAndProduct(write), std::make_pair(kVendor, GetParam().product));
    CloseBoth(read, write);
}

TEST_P(DeviceTest, NotFoundWithTheIdsExchanged) {
    const QorinhidDll& dll = Qorinhid();
    HANDLE read = kCallerRead;
    HANDLE write = kCallerWrite;
    EXPECT_FALSE(dll.findHidDev(nullptr, &read, &write, kVendor, GetParam().product));
    EXPECT_EQ(read, kCallerRead);
    EXPECT_EQ(write, kCallerWrite);
}

TEST_P(DeviceTest, BitsAboveFifteenAreIgnored) {
    const QorinhidDll& dll = Qorinhid();
    HANDLE read = kCallerRead;
    HANDLE write = kCallerWrite;
    ASSERT_TRUE(dll.findHidDevWide(nullptr, &read, &write, 0xABCD0000u | GetParam().product,
                                   0xFFFF0000u | kVendor));
    EXPECT_EQ(VendorAndProduct(read), std::make_pair(kVendor, GetParam().product));
    CloseBoth(read, write);
}

TEST_P(DeviceTest, HandlesCarryTheirOwnAccessOnly) {
    const QorinhidDll& dll = Qorinhid();
    HANDLE read = INVALID_HANDLE_VALUE;
    HANDLE write = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(dll.findHidDev(nullptr, &read, &write, GetParam().product, kVendor));

    const ACCESS_MASK readAccess = GrantedAccess(read);
    const ACCESS_MASK writeAccess = GrantedAccess(write);
    EXPECT_EQ(readAccess & FILE_READ_DATA, FILE_READ_DATA) << std::hex << readAccess;
    EXPECT_EQ(readAccess & FILE_WRITE_DATA, 0u) << std::hex << readAccess;
    EXPECT_EQ(writeAccess & FILE_WRITE_DATA, FILE_WRITE_DATA) << std::hex << writeAccess;
    EXPECT_EQ(writeAccess & FILE_READ_DATA, 0u) << std::hex << writeAccess;

    // The system refuses the other direction before any report moves.
    unsigned char report[64] = {};
    DWORD moved = 0;
    EXPECT_FALSE(WriteFile(read, report, sizeof(report), &moved, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(ReadFile(write, report, sizeof(report), &moved, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseBoth(read, write);
}

TEST_P(DeviceTest, CapabilitiesAreThoseOfTheDevice) {
    const QorinhidDll& dll = Qorinhid();
    HANDLE read = INVALID_HANDLE_VALUE;
    HANDLE write = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(dll.findHidDev(nullptr, &read, &write, GetParam().product, kVendor));

    HIDP_CAPS expected = {};
    ASSERT_TRUE(DirectCaps(read, expected));
    EXPECT_EQ(expected.UsagePage, GetParam().usagePage);
    EXPECT_EQ(expected.Usage, GetParam().usage);
    EXPECT_EQ(expected.InputReportByteLength, GetParam().inputLength);

    for (HANDLE handle : {read, write}) {
        HIDP_CAPS caps;
        std::memset(&caps, 0xA5, sizeof(caps));
        EXPECT_EQ(dll.readWriteInit(&handle, &caps), TRUE);
        // Field by field: the system leaves the Reserved words as it found them.
        EXPECT_EQ(caps.UsagePage, expected.UsagePage);
        EXPECT_EQ(caps.Usage, expected.Usage);
        EXPECT_EQ(caps.InputReportByteLength, expected.InputReportByteLength);
        EXPECT_EQ(caps.OutputReportByteLength, expected.OutputReportByteLength);
        EXPECT_EQ(caps.FeatureReportByteLength, expected.FeatureReportByteLength);
        EXPECT_EQ(caps.NumberLinkCollectionNodes, expected.NumberLinkCollectionNodes);
        EXPECT_EQ(caps.NumberInputButtonCaps, expected.NumberInputButtonCaps);
        EXPECT_EQ(caps.NumberInputValueCaps, expected.NumberInputValueCaps);
        EXPECT_EQ(caps.NumberInputDataIndices, expected.NumberInputDataIndices);
        EXPECT_EQ(caps.NumberOutputButtonCaps, expected.NumberOutputButtonCaps);
        EXPECT_EQ(caps.NumberFeatureValueCaps, expected.NumberFeatureValueCaps);
    }
    std::printf("[ info     ] %s: usage page 0x%x usage 0x%x input %u output %u feature %u\n",
                GetParam().name, expected.UsagePage, expected.Usage, expected.InputReportByteLength,
                expected.OutputReportByteLength, expected.FeatureReportByteLength);
    CloseBoth(read, write);
}

INSTANTIATE_TEST_SUITE_P(Wine, DeviceTest, ::testing::ValuesIn(kDevices),
                         [](const ::testing::TestParamInfo<VirtualDevice>& info) {
                             return std::string(info.param.name);
                         });

TEST(DeviceSearch, NoMatchLeavesOutParametersAsSet) {
    const QorinhidDll& dll = Qorinhid();
    const std::pair<USHORT, USHORT> absent[] = {
        {0x0003, kVendor}, {0x0001, 0x845f}, {0x0000, 0x0000}, {0xFFFF, 0xFFFF}};
    for (const auto& [product, vendor] : absent) {
        HANDLE read = kCallerRead;
        HANDLE write = kCallerWrite;
        EXPECT_FALSE(dll.findHidDev(nullptr, &read, &write, product, vendor))
            << std::hex << product << " " << vendor;
        EXPECT_EQ(read, kCallerRead);
        EXPECT_EQ(write, kCallerWrite);
    }
}

TEST(DeviceSearch, EveryCallHandsOverAFreshPair) {
    const QorinhidDll& dll = Qorinhid();
    HANDLE first[2];
    HANDLE second[2];
    ASSERT_TRUE(dll.findHidDev(nullptr, &first[0], &first[1], 0x0001, kVendor));
    ASSERT_TRUE(dll.findHidDev(nullptr, &second[0], &second[1], 0x0001, kVendor));
    EXPECT_NE(first[0], second[0]);
    EXPECT_NE(first[1], second[1]);
    CloseBoth(first[0], first[1]);
    CloseBoth(second[0], second[1]);
}

TEST(DeviceSearch, NoHandleLeaksOverManyCalls) {
    const QorinhidDll& dll = Qorinhid();
    HANDLE read;
    HANDLE write;
    auto round = [&] {
        ASSERT_TRUE(dll.findHidDev(nullptr, &read, &write, 0x0002, kVendor));
        HIDP_CAPS caps;
        EXPECT_EQ(dll.readWriteInit(&read, &caps), TRUE);
        CloseBoth(read, write);
        HANDLE untouched = kCallerRead;
        EXPECT_FALSE(dll.findHidDev(nullptr, &untouched, &untouched, 0x0003, kVendor));
    };
    // First rounds of every call the loop makes let the system set up what
    // it keeps for the process (Wine opens a couple of handles on first use,
    // not always in the first round); a leak per call would still show forty
    // times over.
    ASSERT_TRUE(dll.findHidDev(nullptr, &read, &write, 0x0001, kVendor));
    CloseBoth(read, write);
    for (int i = 0; i < 3; ++i) {
        round();
    }

    const int before = CountValidHandles();
    for (int i = 0; i < 40; ++i) {
        round();
    }
    EXPECT_EQ(CountValidHandles(), before);
}

TEST(Capabilities, NoHidDataLeavesTheRecordUntouched) {
    const QorinhidDll& dll = Qorinhid();
    HANDLE file = CreateFileW((ExeDirectory() + L"\\Qorinhid.dll").c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE closed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(closed);
    const std::pair<const char*, HANDLE> notHid[] = {{"invalid", INVALID_HANDLE_VALUE},
                                                     {"null", nullptr},
                                                     {"plain file", file},
                                                     {"closed", closed}};
    for (auto [name, handle] : notHid) {
        HIDP_CAPS caps;
        std::memset(&caps, 0xA5, sizeof(caps));
        HIDP_CAPS before = caps;
        EXPECT_EQ(dll.readWriteInit(&handle, &caps), FALSE) << name;
        EXPECT_EQ(std::memcmp(&caps, &before, sizeof(caps)), 0) << name;
    }
    CloseHandle(file);
}

}  // namespace
}  // namespace hidtest
