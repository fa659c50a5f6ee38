// The updater's texts under a Chinese (936) and a Western (1252) ANSI code
// page: the conversion helpers in this process, then Tovane.exe started
// under each locale and its status box read back as UTF-16.
#include <string>
#include <thread>

#include "manifest.h"
#include "tovane_fixture.h"
#include "ui/text.h"

namespace kelvo::test {
namespace {

// "Kelvo 1.1 更新?- 启动更快": the release notes of the manifests below.
const char kNotesGbk[] = "Kelvo 1.1 \xB8\xFC\xD0\xC2?- \xC6\xF4\xB6\xAF\xB8\xFC\xBF\xEC";
const char kNotesUtf8[] =
    "Kelvo 1.1 \xE6\x9B\xB4\xE6\x96\xB0?- \xE5\x90\xAF\xE5\x8A\xA8\xE6\x9B\xB4\xE5\xBF\xAB";
const wchar_t kNotesShown[] = L"Kelvo 1.1 \u66F4\u65B0\r\n- \u542F\u52A8\u66F4\u5FEB";
const wchar_t kNotNeededShown[] = L"Software does not need to update\uFF01";

std::string Manifest(const std::string& bom, const std::string& notes) {
    return bom + "[Programs]\r\nPrograms=a.dll?b.exe?\r\n[Kelvo]\r\nMainVer=1\r\nSubVer=1\r\n" +
           "UpdateInof=" + notes + "\r\n";
}

struct ConversionCase {
    const char* name;
    std::string bytes;
    UINT codePage;
    std::wstring expected;
};

class WideFromCodePageTest : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(WideFromCodePageTest, ConvertsFromTheGivenCodePageNotTheSystems) {
    const ConversionCase& c = GetParam();
    EXPECT_EQ(ui::WideFromCodePage(c.bytes, c.codePage), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WideFromCodePageTest,
    ::testing::Values(
        ConversionCase{"GbkNiHao", "\xC4\xE3\xBA\xC3", 936, L"\u4F60\u597D"},
        ConversionCase{"GbkFullWidthExclamation", "update\xA3\xA1", 936, L"update\uFF01"},
        ConversionCase{"Utf8NiHao", "\xE4\xBD\xA0\xE5\xA5\xBD", 65001, L"\u4F60\u597D"},
        ConversionCase{"Ascii", "Checking update", 936, L"Checking update"},
        ConversionCase{"Empty", "", 936, L""},
        ConversionCase{"EmbeddedNul", std::string("a\0b", 3), 936, std::wstring(L"a\0b", 3)}),
    [](const ::testing::TestParamInfo<ConversionCase>& info) {
        return std::string(info.param.name);
    });

TEST(WideFromCodePage, InvalidBytesDoNotCostTheRestOfTheText) {
    struct Invalid {
        std::string bytes;
        UINT codePage;
        std::size_t validCharacters;
    };
    // A GBK lead byte cut off at the end, a lone UTF-8 continuation byte and
    // an impossible UTF-8 byte, each beside valid text.
    for (const Invalid& c :
         {Invalid{"ab\xC4\xE3z\xC4", 936, 4}, Invalid{"ab\xE4\xBD\xA0z\x80", 65001, 4},
          Invalid{"ab\xFFz", 65001, 3}}) {
        SCOPED_TRACE(c.bytes);
        std::wstring wide = ui::WideFromCodePage(c.bytes, c.codePage);
        EXPECT_EQ(wide.substr(0, 2), L"ab");
        EXPECT_NE(wide.find(L'z'), std::wstring::npos) << "the text after the bad byte is kept";
        EXPECT_GT(wide.size(), c.validCharacters) << "the bad byte leaves a mark";
    }
}

// A path the system gives in UTF-16, for the ANSI file calls: its exact form
// in this process's code page, or none (nullptr) when a character has no
// exact form there.
struct AnsiCase {
    const char* name;
    std::wstring wide;
    const char* in1252;
    const char* in936;
};

class AnsiFromWideTest : public ::testing::TestWithParam<AnsiCase> {};

TEST_P(AnsiFromWideTest, ExactlyOrNotAtAll) {
    const AnsiCase& c = GetParam();
    const UINT acp = ::GetACP();
    if (acp != 1252 && acp != 936) {
        GTEST_SKIP() << "the table has no column for code page " << acp;
    }
    const char* expected = acp == 1252 ? c.in1252 : c.in936;
    std::string ansi = "left over";
    const bool converted = ui::AnsiFromWide(c.wide, &ansi);
    if (expected == nullptr) {
        EXPECT_FALSE(converted) << ansi;
        EXPECT_EQ(ansi, "") << "a failed conversion leaves nothing behind";
    } else {
        EXPECT_TRUE(converted);
        EXPECT_EQ(ansi, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, AnsiFromWideTest,
    ::testing::Values(
        AnsiCase{"Ascii", L"C:\\Kelvo\\Kelvo.exe", "C:\\Kelvo\\Kelvo.exe", "C:\\Kelvo\\Kelvo.exe"},
        AnsiCase{"Empty", L"", "", ""},
        AnsiCase{"LatinSmallEWithAcute", L"caf\u00E9", "caf\xE9", "caf\xA8\xA6"},
        AnsiCase{"HanZhong", L"\u4E2D\\Kelvo.exe", nullptr, "\xD6\xD0\\Kelvo.exe"},
        // Windows would turn it into 'A' if a best fit were allowed.
        AnsiCase{"LatinCapitalAWithMacron", L"\u0100", nullptr, nullptr},
        AnsiCase{"ThaiKoKai", L"kelvo-\u0E01", nullptr, nullptr},
        AnsiCase{"LoneSurrogate", std::wstring(L"a") + wchar_t(0xD800) + L"b", nullptr, nullptr}),
    [](const ::testing::TestParamInfo<AnsiCase>& info) { return std::string(info.param.name); });

TEST(MessageBoxGbk, ShowsGbkTextAndCaptionAsUnicode) {
    // Answered from a second thread, as a user would, after reading what the
    // box shows.
    std::wstring caption;
    std::wstring text;
    bool answered = false;
    std::thread user([&] {
        HWND box = nullptr;
        WaitUntil(
            [&] {
                return (box = FindWindowOf(::GetCurrentProcessId(), "Ask", "#32770")) != nullptr;
            },
            10000);
        if (box != nullptr) {
            caption = WideText(box);
            text = WideText(::GetDlgItem(box, 0xFFFF));
            // Painted before the picture is taken from the screen.
            ::RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            SaveScreenshot(box, ArtifactPath("text_message_box.png"));
            Click(box, IDYES);
            answered = true;
        }
    });
    // "Windows 套接字初始化失败。" in GBK
    int answer = ui::MessageBoxGbk(
        nullptr, "Windows \xCC\xD7\xBD\xD3\xD7\xD6\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC\xA1\xA3",
        "Ask", MB_YESNO);
    user.join();
    ASSERT_TRUE(answered) << "no message box appeared";
    EXPECT_EQ(answer, IDYES);
    EXPECT_EQ(caption, L"Ask");
    EXPECT_EQ(text, L"Windows \x5957\x63A5\x5B57\x521D\x59CB\x5316\x5931\x8D25\x3002");
}

struct ManifestCase {
    const char* name;
    std::string file;
    tovane::ManifestEncoding readAs;
};

class ManifestReadingTest : public ::testing::TestWithParam<ManifestCase> {};

TEST_P(ManifestReadingTest, NotesAreChineseAndTheOtherValuesReadable) {
    const ManifestCase& c = GetParam();
    tovane::Manifest manifest;
    ASSERT_EQ(tovane::ParseManifest(c.file, &manifest), tovane::ManifestParse::kOk);
    EXPECT_EQ(manifest.encoding, c.readAs);
    EXPECT_EQ(manifest.files, (std::vector<std::string>{"a.dll", "b.exe", ""}))
        << "the first section is found";
    EXPECT_EQ(manifest.offered.sub, 1u);
    EXPECT_EQ(ui::NotesForBox(manifest), kNotesShown);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ManifestReadingTest,
    ::testing::Values(ManifestCase{"Gbk", Manifest("", kNotesGbk), tovane::ManifestEncoding::Gbk},
                      ManifestCase{"Utf8Bom", Manifest("\xEF\xBB\xBF", kNotesUtf8),
                                   tovane::ManifestEncoding::Utf8}),
    [](const ::testing::TestParamInfo<ManifestCase>& info) {
        return std::string(info.param.name);
    });

struct LocaleCase {
    const char* name;
    const char* locale;
    UINT codePage;
};

class TovaneLocaleTest : public TovaneTest, public ::testing::WithParamInterface<LocaleCase> {
protected:
    HWND LaunchUnderLocale() {
        std::string error;
        if (!tovane_.StartUnderLocale(exe_, programDir_, "", GetParam().locale, &error)) {
            ADD_FAILURE() << error;
            return nullptr;
        }
        HWND dialog = WaitForWindowOf(tovane_.Pid(), "Update", 20000, "#32770");
        EXPECT_NE(dialog, nullptr) << "no update dialog appeared";
        return dialog;
    }

    std::wstring WaitForWideDecision(HWND dialog) {
        std::wstring status;
        WaitUntil(
            [&] {
                status = WideItemText(dialog, IDC_STATUS);
                return status != L"Checking update" && !status.empty();
            },
            15000);
        return status;
    }

    void ShotInLocale(HWND dialog, const std::string& what) {
        Shot(dialog, std::string("text_") + what + "_" + GetParam().name);
    }
};

TEST_P(TovaneLocaleTest, ProgramsStartedThisWaySeeTheLocalesCodePage) {
    // The product stand-in records the code page it saw; Tovane.exe is
    // started the same way below.
    std::string product = programDir_ + "\\Kelvo.exe";
    ASSERT_TRUE(::CopyFileA(WinPath(Env("KELVO_PRODUCT_EXE")).c_str(), product.c_str(), FALSE));
    Child child;
    std::string error;
    ASSERT_TRUE(child.StartUnderLocale(product, programDir_, "", GetParam().locale, &error))
        << error;
    std::string log;
    ASSERT_TRUE(WaitUntil(
        [&] { return ReadFile(programDir_ + "\\started.log", log) && log.find('\n') != log.npos; },
        10000));
    EXPECT_NE(log.find("acp=" + std::to_string(GetParam().codePage) + " "), std::string::npos)
        << log;
    child.Kill();
}

TEST_P(TovaneLocaleTest, NoUpdateTextShowsTheFullWidthExclamationMark) {
    WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=1\r\n");
    PublishManifest("a.dll?", 1, 1, "notes");
    HWND dialog = LaunchUnderLocale();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WaitForWideDecision(dialog), kNotNeededShown);
    ShotInLocale(dialog, "not_needed");
}

TEST_P(TovaneLocaleTest, GbkNotesShowInChinese) {
    WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
    Publish("Version.txt", Manifest("", kNotesGbk));
    HWND dialog = LaunchUnderLocale();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WaitForWideDecision(dialog), kNotesShown);
    EXPECT_TRUE(WaitForOffer(dialog, 5000));
    ShotInLocale(dialog, "gbk_notes");
}

TEST_P(TovaneLocaleTest, Utf8NotesAfterAByteOrderMarkShowInChinese) {
    WriteInstalledVersion("[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n");
    Publish("Version.txt", Manifest("\xEF\xBB\xBF", kNotesUtf8));
    HWND dialog = LaunchUnderLocale();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WaitForWideDecision(dialog), kNotesShown);
    // Offered: the list and the version after the mark were read too.
    EXPECT_TRUE(WaitForOffer(dialog, 5000));
    EXPECT_FALSE(FileExists(tempDir_ + "Version.ini"));
    ShotInLocale(dialog, "utf8_notes");
}

INSTANTIATE_TEST_SUITE_P(Locales, TovaneLocaleTest,
                         ::testing::Values(LocaleCase{"Chinese", "zh_CN.UTF-8", 936},
                                           LocaleCase{"English", "en_US.UTF-8", 1252}),
                         [](const ::testing::TestParamInfo<LocaleCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace kelvo::test
