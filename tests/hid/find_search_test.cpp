// The device search driven through simulated device sets: the cases a
// present device cannot produce, each checked for its result, the caller's
// variables, the registrations made and what is left open or allocated.
#include "fake_hid_platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hidtest {
namespace {

constexpr USHORT kVendor = 0x845e;
constexpr USHORT kProduct = 0x0001;
const HANDLE kCallerRead = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0xBAD1));
const HANDLE kCallerWrite = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0xBAD2));
const HWND kWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x4242));
constexpr DWORD kFixedPart = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);

FakeInterface Match(const wchar_t* path) { return {path, kVendor, kProduct}; }
FakeInterface Other(const wchar_t* path) { return {path, kVendor, 0x0002}; }

template <typename T>
FakeInterface With(FakeInterface iface, T FakeInterface::*field, T value) {
    iface.*field = value;
    return iface;
}

enum class Kind { Untouched, Invalid, HandleOf };
struct Out {
    Kind kind;
    std::size_t iface;
};
constexpr Out kUntouched{Kind::Untouched, 0};
constexpr Out kInvalid{Kind::Invalid, 0};
constexpr Out HandleOf(std::size_t iface) { return {Kind::HandleOf, iface}; }

struct SearchCase {
    std::string name;
    std::vector<FakeInterface> interfaces;
    bool result;
    Out read;
    Out write;
    std::size_t registrations;
    std::size_t stepsEnumerated;           // enumeration calls, the failing last one included
    std::vector<std::size_t> neverOpened;  // not even probed
    USHORT product = kProduct;
    USHORT vendor = kVendor;
    bool deviceSetFails = false;
    std::size_t enumerationErrorAt = SIZE_MAX;
    bool allocationFails = false;
};

std::vector<SearchCase> Cases() {
    std::vector<SearchCase> cases;
    auto add = [&](SearchCase c) { cases.push_back(std::move(c)); };

    add({"single_match_behind_other_device",
         {Other(L"a"), Match(L"b")},
         true,
         HandleOf(1),
         HandleOf(1),
         1,
         2,
         {}});
    add({"first_of_two_openable_matches_wins",
         {Match(L"a"), Match(L"b")},
         true,
         HandleOf(0),
         HandleOf(0),
         1,
         1,
         {1}});
    {
        SearchCase c{
            "ids_exchanged_not_found", {Match(L"a")}, false, kUntouched, kUntouched, 0, 2, {}};
        c.product = kVendor;
        c.vendor = kProduct;
        add(c);
    }
    {
        SearchCase c{"ids_with_bit_15_set",
                     {{L"a", 0xFFFF, 0x8001}},
                     true,
                     HandleOf(0),
                     HandleOf(0),
                     1,
                     1,
                     {}};
        c.product = 0x8001;
        c.vendor = 0xFFFF;
        add(c);
    }
    add({"first_match_refuses_read_second_wins",
         {With(Match(L"a"), &FakeInterface::readOpens, false), Match(L"b")},
         true,
         HandleOf(1),
         HandleOf(1),
         2,
         2,
         {}});
    add({"first_match_refuses_write_second_wins",
         {With(Match(L"a"), &FakeInterface::writeOpens, false), Match(L"b")},
         true,
         HandleOf(1),
         HandleOf(1),
         2,
         2,
         {}});
    add({"read_opens_write_does_not",
         {With(Match(L"a"), &FakeInterface::writeOpens, false)},
         false,
         kInvalid,
         kInvalid,
         1,
         2,
         {}});
    add({"only_match_refuses_read",
         {With(Match(L"a"), &FakeInterface::readOpens, false)},
         false,
         kInvalid,
         kUntouched,
         1,
         2,
         {}});
    add({"last_match_refuses_read_after_a_write_failure",
         {With(Match(L"a"), &FakeInterface::writeOpens, false),
          With(Match(L"b"), &FakeInterface::readOpens, false)},
         false,
         kInvalid,
         kInvalid,
         2,
         3,
         {}});
    add({"probe_fails",
         {With(Match(L"a"), &FakeInterface::probeOpens, false)},
         false,
         kUntouched,
         kUntouched,
         0,
         2,
         {}});
    add({"probe_fails_next_match_wins",
         {With(Match(L"a"), &FakeInterface::probeOpens, false), Match(L"b")},
         true,
         HandleOf(1),
         HandleOf(1),
         1,
         2,
         {}});
    add({"attributes_unreadable_after_a_match",
         {With(Match(L"a"), &FakeInterface::readOpens, false),
          With(Match(L"b"), &FakeInterface::attributesReadable, false)},
         false,
         kInvalid,
         kUntouched,
         1,
         3,
         {}});
    add({"attributes_unreadable_then_match",
         {With(Match(L"a"), &FakeInterface::attributesReadable, false), Match(L"b")},
         true,
         HandleOf(1),
         HandleOf(1),
         1,
         2,
         {}});
    add({"sizing_yields_zero",
         {With(Match(L"a"), &FakeInterface::sizingResult, DWORD{0}), Match(L"b")},
         true,
         HandleOf(1),
         HandleOf(1),
         1,
         2,
         {0}});
    add({"sizing_below_fixed_part",
         {With(Match(L"a"), &FakeInterface::sizingResult, kFixedPart - 1)},
         false,
         kUntouched,
         kUntouched,
         0,
         2,
         {0}});
    add({"sizing_only_fixed_part",
         {With(Match(L"abc"), &FakeInterface::sizingResult, kFixedPart)},
         false,
         kUntouched,
         kUntouched,
         0,
         2,
         {0}});
    add({"sizing_short_of_the_path",
         {With(Match(L"abcdef"), &FakeInterface::sizingResult, kFixedPart + 4), Match(L"b")},
         true,
         HandleOf(1),
         HandleOf(1),
         1,
         2,
         {0}});
    add({"fill_fails",
         {With(Match(L"a"), &FakeInterface::fillFails, true), Match(L"b")},
         true,
         HandleOf(1),
         HandleOf(1),
         1,
         2,
         {0}});
    add({"fill_yields_empty_path", {Match(L"")}, false, kUntouched, kUntouched, 0, 2, {0}});
    add({"fill_leaves_path_unterminated",
         {With(Match(L"a"), &FakeInterface::fillUnterminated, true)},
         false,
         kUntouched,
         kUntouched,
         0,
         2,
         {0}});
    {
        SearchCase c{"allocation_fails", {Match(L"a")}, false, kUntouched, kUntouched, 0, 2, {0}};
        c.allocationFails = true;
        add(c);
    }
    add({"no_interfaces", {}, false, kUntouched, kUntouched, 0, 1, {}});
    {
        SearchCase c{
            "device_set_cannot_be_built", {Match(L"a")}, false, kUntouched, kUntouched, 0, 0, {0}};
        c.deviceSetFails = true;
        add(c);
    }
    {
        SearchCase c{"enumeration_error_ends_search",
                     {Other(L"a"), Other(L"b"), Match(L"c")},
                     false,
                     kUntouched,
                     kUntouched,
                     0,
                     2,
                     {2}};
        c.enumerationErrorAt = 1;
        add(c);
    }
    return cases;
}

std::string Describe(const FakeHidPlatform& fake) {
    std::string text;
    for (const std::string& fault : fake.faults) {
        text += "\n  fault: " + fault;
    }
    for (const OpenRecord& open : fake.opens) {
        text += "\n  open #" + std::to_string(open.interfaceIndex) + " access " +
                std::to_string(open.access);
    }
    return text;
}

void ExpectOut(const char* which, HANDLE value, HANDLE callerValue, const Out& expected,
               DWORD access, const FakeHidPlatform& fake) {
    switch (expected.kind) {
    case Kind::Untouched:
        EXPECT_EQ(value, callerValue) << which << " out-parameter was changed";
        break;
    case Kind::Invalid:
        EXPECT_EQ(value, INVALID_HANDLE_VALUE) << which;
        break;
    case Kind::HandleOf:
        EXPECT_TRUE(fake.IsOpenHandle(value, expected.iface, access))
            << which << " out-parameter is not an open handle of interface " << expected.iface
            << " with the right access";
        break;
    }
}

class SearchTable : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SearchTable, ResultOutParametersRegistrationsAndLeftovers) {
    const SearchCase& c = GetParam();
    FakeHidPlatform fake;
    fake.interfaces = c.interfaces;
    fake.deviceSetFails = c.deviceSetFails;
    fake.enumerationErrorAt = c.enumerationErrorAt;
    fake.allocationFails = c.allocationFails;

    HANDLE read = kCallerRead;
    HANDLE write = kCallerWrite;
    const bool result = qorinhid::FindHidDevice(fake, kWindow, &read, &write, c.product, c.vendor);

    SCOPED_TRACE(Describe(fake));
    EXPECT_EQ(result, c.result);
    ExpectOut("read", read, kCallerRead, c.read, GENERIC_READ, fake);
    ExpectOut("write", write, kCallerWrite, c.write, GENERIC_WRITE, fake);
    EXPECT_TRUE(fake.faults.empty());

    EXPECT_EQ(fake.registeredWindows.size(), c.registrations);
    for (HANDLE window : fake.registeredWindows) {
        EXPECT_EQ(window, kWindow);
    }

    // Only the pair handed to the caller may stay open.
    EXPECT_EQ(fake.openHandles.size(), result ? 2u : 0u);
    EXPECT_EQ(fake.liveAllocations, 0) << "detail record not freed";
    EXPECT_EQ(fake.setsDestroyed, fake.setsBuilt);

    ASSERT_EQ(fake.enumeratedIndexes.size(), c.stepsEnumerated);
    for (std::size_t i = 0; i < fake.enumeratedIndexes.size(); ++i) {
        EXPECT_EQ(fake.enumeratedIndexes[i], i);
    }
    for (std::size_t index : c.neverOpened) {
        EXPECT_EQ(fake.OpenCountAnyAccess(index), 0) << "interface " << index << " was opened";
    }
    // No interface is opened for I/O unless it was probed and matched.
    for (std::size_t i = 0; i < c.interfaces.size(); ++i) {
        if (fake.OpenCount(i, GENERIC_READ) > 0) {
            EXPECT_EQ(fake.OpenCount(i, 0), 1) << "interface " << i;
            EXPECT_EQ(c.interfaces[i].vendor, c.vendor);
            EXPECT_EQ(c.interfaces[i].product, c.product);
        }
        EXPECT_LE(fake.OpenCount(i, GENERIC_READ), 1);
        EXPECT_LE(fake.OpenCount(i, GENERIC_WRITE), fake.OpenCount(i, GENERIC_READ));
    }
}

INSTANTIATE_TEST_SUITE_P(DeviceSets, SearchTable, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<SearchCase>& info) {
                             return info.param.name;
                         });

TEST(SearchArguments, MissingOutParameterDoesNothing) {
    FakeHidPlatform fake;
    fake.interfaces = {Match(L"a")};
    HANDLE handle = kCallerRead;
    EXPECT_FALSE(qorinhid::FindHidDevice(fake, kWindow, nullptr, &handle, kProduct, kVendor));
    EXPECT_FALSE(qorinhid::FindHidDevice(fake, kWindow, &handle, nullptr, kProduct, kVendor));
    EXPECT_EQ(handle, kCallerRead);
    EXPECT_EQ(fake.setsBuilt, 0);
    EXPECT_TRUE(fake.opens.empty());
}

}  // namespace
}  // namespace hidtest
