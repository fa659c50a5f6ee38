// Device-change registrations on a real window (needs the session's display).
#include "qorinhid_dll.h"

#include <gtest/gtest.h>

#include <vector>

namespace hidtest {
namespace {

class NotificationTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"QorinhidNotificationTest";
        RegisterClassW(&windowClass);  // a second registration in the process fails harmlessly
        window_ =
            CreateWindowExW(0, windowClass.lpszClassName, L"notifications", WS_OVERLAPPEDWINDOW, 0,
                            0, 100, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(window_, nullptr)
            << "CreateWindow error " << GetLastError() << " (is there an X display?)";
        HidD_GetHidGuid(&hidGuid_);
    }

    void TearDown() override {
        for (HDEVNOTIFY registration : registrations_) {
            UnregisterDeviceNotification(registration);
        }
        if (window_) {
            DestroyWindow(window_);
        }
    }

    HDEVNOTIFY Register(GUID* classGuid) {
        HDEVNOTIFY registration = Qorinhid().registerNotifications(classGuid, window_);
        if (registration) {
            registrations_.push_back(registration);
        }
        return registration;
    }

    HWND window_ = nullptr;
    GUID hidGuid_ = {};
    std::vector<HDEVNOTIFY> registrations_;
};

TEST_F(NotificationTest, EachCallMakesANewRegistration) {
    HDEVNOTIFY first = Register(&hidGuid_);
    HDEVNOTIFY second = Register(&hidGuid_);
    EXPECT_NE(first, nullptr);
    EXPECT_NE(second, nullptr);
    EXPECT_NE(first, second);
}

TEST_F(NotificationTest, AnyInterfaceClassCanBeWatched) {
    GUID otherClass = {
        0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
    EXPECT_NE(Register(&otherClass), nullptr);
}

TEST_F(NotificationTest, MissingClassRegistersNothing) { EXPECT_EQ(Register(nullptr), nullptr); }

TEST_F(NotificationTest, SearchWithAWindowStillOpensTheDevice) {
    HANDLE read = INVALID_HANDLE_VALUE;
    HANDLE write = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(Qorinhid().findHidDev(window_, &read, &write, 0x0001, 0x845e));
    CloseHandle(read);
    CloseHandle(write);
}

}  // namespace
}  // namespace hidtest
