// The update dialog at 96 and at 192 DPI, with the controls of Common
// Controls 6 that the manifest asks for: at 192 DPI it lays itself out at
// twice the size (fonts, controls, the dialog itself) and still shows every
// control and every line whole. The DPI is the prefix's LogPixels, read by
// each process as it starts.
//
// Wine 8 lays out every program at the system DPI, aware or not, and tells
// another process the same awareness for every window: that the manifest
// declares the awareness is checked in resources_test.cpp instead.
#include "tovane_fixture.h"

#include <commctrl.h>

#include <map>

namespace kelvo::test {
namespace {

const char kDesktopKey[] = "Control Panel\\Desktop";
const char kLogPixels[] = "LogPixels";

// Sets LogPixels for the programs started from now on, and puts back what
// was there (or nothing) when it goes.
class LogPixelsSetting {
public:
    explicit LogPixelsSetting(DWORD dpi) {
        if (::RegCreateKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, nullptr, 0,
                              KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_,
                              nullptr) != ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        DWORD type = 0;
        DWORD size = sizeof old_;
        had_ = ::RegQueryValueExA(key_, kLogPixels, nullptr, &type, reinterpret_cast<BYTE*>(&old_),
                                  &size) == ERROR_SUCCESS &&
               type == REG_DWORD && size == sizeof old_;
        set_ = ::RegSetValueExA(key_, kLogPixels, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                                sizeof dpi) == ERROR_SUCCESS;
    }
    ~LogPixelsSetting() {
        if (key_ == nullptr) {
            return;
        }
        if (had_) {
            ::RegSetValueExA(key_, kLogPixels, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_),
                             sizeof old_);
        } else {
            ::RegDeleteValueA(key_, kLogPixels);
        }
        ::RegCloseKey(key_);
    }
    LogPixelsSetting(const LogPixelsSetting&) = delete;
    LogPixelsSetting& operator=(const LogPixelsSetting&) = delete;
    bool Set() const { return set_; }

private:
    HKEY key_ = nullptr;
    DWORD old_ = 0;
    bool had_ = false;
    bool set_ = false;
};

// The calls of Windows 10 that this MinGW declares for newer targets only.
using DpiContext = HANDLE;
const DpiContext kPerMonitorAwareV2 = reinterpret_cast<DpiContext>(static_cast<INT_PTR>(-4));
const DpiContext kPerMonitorAware = reinterpret_cast<DpiContext>(static_cast<INT_PTR>(-3));

template <class Function>
Function User32(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), name)));
}

// This thread measured in real pixels while it lives: on Windows a thread
// that is not DPI aware is told the coordinates of an aware window scaled
// to 96 DPI, and its screenshots would cut the window.
class PerMonitorThread {
public:
    PerMonitorThread() {
        auto set = User32<DpiContext(WINAPI*)(DpiContext)>("SetThreadDpiAwarenessContext");
        if (set != nullptr) {
            // Wine 8 knows the first per-monitor form only; for measuring
            // either will do.
            old_ = set(kPerMonitorAwareV2);
            if (old_ == nullptr) {
                old_ = set(kPerMonitorAware);
            }
        }
    }
    ~PerMonitorThread() {
        auto set = User32<DpiContext(WINAPI*)(DpiContext)>("SetThreadDpiAwarenessContext");
        if (set != nullptr && old_ != nullptr) {
            set(old_);
        }
    }
    bool Aware() const { return old_ != nullptr; }
    PerMonitorThread(const PerMonitorThread&) = delete;
    PerMonitorThread& operator=(const PerMonitorThread&) = delete;

private:
    DpiContext old_ = nullptr;
};

// Common Controls 6 registers its controls under versioned class names
// ("6.0...!Button"): their atom is not that of the system's class of the same
// name, which is what this process, without a manifest, gets.
ATOM SystemClassAtom(const char* name) {
    WNDCLASSEXA info = {};
    info.cbSize = sizeof info;
    return static_cast<ATOM>(::GetClassInfoExA(nullptr, name, &info));
}

ATOM ClassAtomOf(HWND window) { return static_cast<ATOM>(::GetClassWord(window, GCW_ATOM)); }

// What a user would measure on the screen, in the dialog's client
// coordinates.
struct Layout {
    bool seen = false;  // the dialog came up with the offer and was measured
    RECT client = {};
    std::map<int, RECT> items;  // IDC_UPDATE, IDCANCEL, IDC_STATUS; IDC_PROGRESS
                                // once the download runs
    RECT statusClient = {};     // the status box inside its border
    int lines = 0;
    POINT lastLine = {};  // where the status text's last line starts
    // Where its last character ends, taken as wide as the one before it (an
    // edit control tells where a character starts, not where it ends).
    POINT textEnd = {};
    int lineHeight = 0;
    bool downloading = false;  // the bar showed part of a download
};

RECT ItemRect(HWND dialog, int id) {
    RECT rect = {};
    ::GetWindowRect(::GetDlgItem(dialog, id), &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

POINT PositionOfChar(HWND edit, LRESULT index) {
    LRESULT at = ::SendMessageA(edit, EM_POSFROMCHAR, static_cast<WPARAM>(index), 0);
    return POINT{static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
}

Layout Measure(HWND dialog) {
    Layout layout;
    ::GetClientRect(dialog, &layout.client);
    for (int id : {IDC_UPDATE, IDCANCEL, IDC_STATUS}) {
        layout.items[id] = ItemRect(dialog, id);
    }
    HWND status = ::GetDlgItem(dialog, IDC_STATUS);
    ::GetClientRect(status, &layout.statusClient);
    layout.lines = static_cast<int>(::SendMessageA(status, EM_GETLINECOUNT, 0, 0));
    // In characters, as EM_POSFROMCHAR counts them.
    const LRESULT length = ::SendMessageW(status, WM_GETTEXTLENGTH, 0, 0);
    const LRESULT lastStart = ::SendMessageA(status, EM_LINEINDEX, layout.lines - 1, 0);
    layout.lastLine = PositionOfChar(status, lastStart);
    const POINT last = PositionOfChar(status, length - 1);
    const POINT beforeLast = PositionOfChar(status, length - 2);
    layout.textEnd = POINT{2 * last.x - beforeLast.x, last.y};
    if (layout.lines > 1) {
        const LRESULT secondStart = ::SendMessageA(status, EM_LINEINDEX, 1, 0);
        layout.lineHeight = PositionOfChar(status, secondStart).y - PositionOfChar(status, 0).y;
    }
    return layout;
}

bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

class DpiTest : public TovaneTest {
protected:
    // Tovane.exe started under this DPI: the offer, then the bar part of the
    // way through a download, each measured and shot.
    Layout ShownAt(DWORD dpi) {
        Layout layout;
        LogPixelsSetting setting(dpi);
        EXPECT_TRUE(setting.Set()) << "LogPixels not written";
        Child tovane;
        HWND dialog = Launch(tovane);
        if (dialog == nullptr) {
            return layout;
        }
        EXPECT_TRUE(WaitForOffer(dialog)) << ItemText(dialog, IDC_STATUS);
        for (int id : {IDC_UPDATE, IDCANCEL, IDC_STATUS}) {
            HWND item = ::GetDlgItem(dialog, id);
            char name[64] = {};
            ::GetClassNameA(item, name, sizeof name);
            EXPECT_NE(ClassAtomOf(item), SystemClassAtom(name))
                << "control " << id << " is the system's " << name << ", not Common Controls 6's";
        }
        {
            PerMonitorThread aware;
            EXPECT_TRUE(aware.Aware()) << "this thread cannot measure in real pixels";
            layout = Measure(dialog);
            layout.seen = true;
            Shot(dialog, "dpi_" + std::to_string(dpi) + "_offer");
        }
        Click(dialog, IDC_UPDATE);
        HWND bar = ::GetDlgItem(dialog, IDC_PROGRESS);
        int position = 0;
        int upper = 0;
        EXPECT_TRUE(WaitUntil(
            [&] {
                position = static_cast<int>(::SendMessageA(bar, PBM_GETPOS, 0, 0));
                upper = static_cast<int>(::SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
                return ItemVisible(dialog, IDC_PROGRESS) && position > 0 && position < upper;
            },
            10000))
            << "the bar showed " << position << " of " << upper;
        {
            PerMonitorThread aware;
            layout.items[IDC_PROGRESS] = ItemRect(dialog, IDC_PROGRESS);
            layout.downloading = position > 0 && position < upper;
            Shot(dialog, "dpi_" + std::to_string(dpi) + "_downloading");
        }
        Click(dialog, IDCANCEL);
        EXPECT_TRUE(tovane.WaitExit(10000));
        return layout;
    }
};

TEST_F(DpiTest, AtTwiceTheDpiEverythingIsTwiceAsLargeAndWhole) {
    // Notes of several lines, the longest one last: its end is what a
    // status box too small for its font would cut.
    PublishManifest("a.dll?", 2, 0,
                    "Kelvo 2.0?Faster start-up?Reads the device list again on resume");
    // Half of it, then a pause long enough to see the bar half full.
    Publish("a.dll", std::string(100000, 'a'));
    PublishFault("a.dll", R"({"reset_after": 50000, "reset_delay": 5})");
    Layout small = ShownAt(96);
    Layout large = ShownAt(192);
    ASSERT_TRUE(small.seen && large.seen);

    const std::pair<const char*, const Layout*> both[] = {{"96", &small}, {"192", &large}};
    for (const auto& [name, layout] : both) {
        SCOPED_TRACE(std::string("at ") + name + " DPI");
        for (const auto& [id, rect] : layout->items) {
            EXPECT_TRUE(Inside(rect, layout->client)) << "control " << id << " sticks out";
        }
        EXPECT_TRUE(layout->downloading) << "the bar never showed part of the download";
        EXPECT_EQ(layout->items.count(IDC_PROGRESS), 1u);
        EXPECT_GE(layout->lines, 3) << "the notes are not shown as lines";
        EXPECT_GE(layout->textEnd.x, layout->lastLine.x) << "no text in the status box";
        EXPECT_LE(layout->textEnd.x, layout->statusClient.right) << "the last line is cut";
        EXPECT_GT(layout->lineHeight, 0);
        EXPECT_LE(layout->lastLine.y + layout->lineHeight, layout->statusClient.bottom)
            << "the last line is below the status box";
    }

    // Twice the DPI, about twice the size: font metrics round, so not exactly.
    auto twice = [](int at96, int at192) {
        return at192 >= at96 * 17 / 10 && at192 <= at96 * 23 / 10;
    };
    EXPECT_PRED2(twice, Width(small.client), Width(large.client));
    EXPECT_PRED2(twice, Height(small.client), Height(large.client));
    for (int id : {IDC_UPDATE, IDCANCEL, IDC_STATUS, IDC_PROGRESS}) {
        SCOPED_TRACE("control " + std::to_string(id));
        EXPECT_PRED2(twice, Width(small.items[id]), Width(large.items[id]));
        EXPECT_PRED2(twice, Height(small.items[id]), Height(large.items[id]));
    }
    EXPECT_PRED2(twice, small.lineHeight, large.lineHeight) << "the font did not grow";
    EXPECT_PRED2(twice, small.textEnd.x - small.lastLine.x, large.textEnd.x - large.lastLine.x)
        << "the text did not grow with the font";
}

}  // namespace
}  // namespace kelvo::test
